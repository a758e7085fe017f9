// The download area: a minimal HTTP/1.0 server for GET requests.  Pure
// request -> whole response; the loop sends it and closes the connection.
#include <sys/stat.h>

#include <ctime>
#include <fstream>
#include <sstream>

#include "internal.h"

namespace {

std::string httpDate(time_t t) {
    char buf[64];
    std::tm tm{};
    gmtime_r(&t, &tm);
    std::strftime(buf, sizeof buf, "%a, %d %b %Y %H:%M:%S GMT", &tm);
    return buf;
}

std::string response(int code, std::string_view reason, std::string_view type, std::string_view body,
                     time_t modified = 0) {
    std::string r = "HTTP/1.0 " + std::to_string(code) + " " + std::string(reason) + "\r\n";
    r += "Server: kordo-server\r\nDate: " + httpDate(std::time(nullptr)) + "\r\n";
    if (modified) r += "Last-Modified: " + httpDate(modified) + "\r\n";
    r += "Content-Type: " + std::string(type) + "\r\n";
    r += "Content-Length: " + std::to_string(body.size()) + "\r\nConnection: close\r\n\r\n";
    r += body;
    return r;
}

std::string page(std::string_view title, std::string_view body) {
    return "<!DOCTYPE html>\n<html lang=\"fr\"><head><meta charset=\"utf-8\"><title>" + std::string(title) +
           "</title></head>\n<body><h1>" + std::string(title) + "</h1>\n" + std::string(body) +
           "\n</body></html>\n";
}

// A path below the download area: no "..", no absolute path, no empty
// component, no NUL.
bool safeRelative(std::string_view p) {
    if (p.empty() || p[0] == '/' || p.find('\0') != std::string_view::npos || p.find('\\') != std::string_view::npos)
        return false;
    size_t i = 0;
    while (i <= p.size()) {
        size_t j = p.find('/', i);
        if (j == std::string_view::npos) j = p.size();
        std::string_view part = p.substr(i, j - i);
        if (part.empty() || part == "." || part == "..") return false;
        i = j + 1;
    }
    return true;
}

bool readRegular(const std::string& path, std::string* bytes, time_t* mtime) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
    std::ifstream f(path, std::ios::binary);
    if (!f) return false;
    std::ostringstream ss;
    ss << f.rdbuf();
    *bytes = ss.str();
    *mtime = st.st_mtime;
    return true;
}

}  // namespace

std::string Server::Impl::httpAnswer(std::string_view request) const {
    size_t eol = request.find_first_of("\r\n");
    std::string_view first = request.substr(0, eol);
    size_t sp1 = first.find(' ');
    size_t sp2 = sp1 == std::string_view::npos ? sp1 : first.find(' ', sp1 + 1);
    if (sp1 == std::string_view::npos) return response(400, "Bad Request", "text/plain", "bad request\n");
    std::string_view method = first.substr(0, sp1);
    std::string_view target = first.substr(sp1 + 1, sp2 == std::string_view::npos ? std::string_view::npos : sp2 - sp1 - 1);
    if (method != "GET") return response(405, "Method Not Allowed", "text/plain", "GET only\n");
    target = target.substr(0, target.find('?'));

    if (target == "/about.php")
        return response(200, "OK", "text/html; charset=utf-8",
                        page("Le Kordo, serveur d'entraînement",
                             "<p>Un petit jeu pour essayer le client Le Kordo : morpion, salon de discussion, "
                             "menus vivants, sons et dialogues.</p>\n<p>Les comptes d'au moins quatre caractères "
                             "sont créés à la première connexion.</p>"));
    if (target == "/register.php")
        return response(200, "OK", "text/html; charset=utf-8",
                        page("Créer un compte",
                             "<p>Pas de formulaire ici : connectez-vous avec le nom (au moins quatre "
                             "caractères) et le mot de passe de votre choix, le compte est créé à la "
                             "première connexion.</p>"));
    if (target == "/lostpassword.php")
        return response(200, "OK", "text/html; charset=utf-8",
                        page("Mot de passe perdu",
                             "<p>Le serveur d'entraînement ne garde qu'une empreinte du mot de passe. "
                             "Demandez à son administrateur de retirer votre ligne du fichier des comptes, "
                             "puis reconnectez-vous.</p>"));

    constexpr std::string_view kBase = "/autodl/";
    if (!target.starts_with(kBase)) return response(404, "Not Found", "text/plain", "not found\n");
    std::string_view rel = target.substr(kBase.size());
    if (!safeRelative(rel)) return response(403, "Forbidden", "text/plain", "forbidden\n");
    // The client asks for "x.dle" when it wants the library "x.dll"; on this
    // platform the library is "x.so".  Serve whichever exists.
    std::vector<std::string> candidates;
    if (rel.size() > 4 && rel.ends_with(".dle")) {
        std::string stem(rel.substr(0, rel.size() - 4));
        candidates = {stem + ".dll", stem + ".so"};
    } else {
        candidates = {std::string(rel)};
    }
    for (const std::string& c : candidates) {
        std::string bytes;
        time_t mtime = 0;
        if (readRegular(opt.downloadDir + "/" + c, &bytes, &mtime))
            return response(200, "OK", "application/octet-stream", bytes, mtime);
    }
    return response(404, "Not Found", "text/plain", "not found\n");
}
