// The small French game: a main menu leading to one place per family of
// server commands, tic-tac-toe in a 3x3 grid, and a chat room shared by every
// connected player.  Runs on the loop thread; texts in this file are UTF-8
// and converted to CP1252 by fr() before they go on the wire, while player
// names and chat texts arrive in CP1252 and are passed on unchanged.
#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <optional>

#include "internal.h"
#include "net/protocol.h"
#include "platform/text.h"

namespace {

std::string fr(std::string_view utf8) { return utf8ToCp1252(utf8); }

// Menu ids: fixed, so "umenu" and "movem" can name them.
enum MenuId : int {
    kMainMenu = 1,
    kGridMenu = 2,
    kKeysMenu = 3,
    kLiveMenu = 4,
    kSoundsMenu = 5,
};

// Ids of "input" and "msgbox" requests.  60003 is the client's own id for
// chat lines.
enum RequestId : int {
    kAskName = 1,
    kAskQuestion = 2,
    kAskReplay = 3,
    kChatInput = 60003,
};

// The sounds the game uses, all generated at build time.  "checkfile" and
// "preload" list them from here.  Each name becomes a file name on the
// player's machine: never a Windows device name (NUL, CON, COM1...), which
// would name no file there.
constexpr const char* kSounds[] = {"menubounds", "item1",   "item2",  "item3",    "item4",
                                   "item5",      "item6",   "item7",  "item8",    "case",
                                   "pose",       "serveur", "victoire", "defaite", "egalite",
                                   "message",    "chuchote", "entree", "sortie",  "alerte",
                                   "fond",       "touche"};
constexpr const char* kMusics[] = {"mustart", "mujeu"};

struct Item {
    std::string label;  // CP1252
    std::string value;
    std::string sound;  // "" = none
};

std::string itemFields(const Item& it) {
    return it.label + "|" + it.value + "|" + (it.sound.empty() ? "null" : it.sound) + "|null";
}

// A menu text: id|width|count|selection|flags|reserved, then four fields per
// item.  No field may be empty (the client's parser merges separators).
std::string menuText(int id, int width, int selection, int flags, const std::vector<Item>& items) {
    std::string t = std::to_string(id) + "|" + std::to_string(width) + "|" +
                    std::to_string(items.size()) + "|" + std::to_string(selection) + "|" +
                    std::to_string(flags) + "|0";
    for (const Item& it : items) {
        t += '|';
        t += itemFields(it);
    }
    return t;
}

// Texts typed by players may hold "|" (the client does not escape it); a
// label or a chat line relayed inside a field must not.
std::string noBars(std::string_view s) {
    std::string r(s);
    std::replace(r.begin(), r.end(), '|', '/');
    return r;
}

std::vector<Item> mainItems() {
    return {
        {fr("Morpion contre le serveur"), "morpion", "item1"},
        {fr("Salon de discussion"), "salon", "item2"},
        {fr("Atelier des touches"), "touches", "item3"},
        {fr("Tableau vivant"), "vivant", "item4"},
        {fr("Sons et voix"), "sons", "item5"},
        {fr("Votre nom"), "nom", "item6"},
        {fr("Une question"), "question", "item7"},
        {fr("Extension du client"), "extension", "item8"},
        {fr("À propos du serveur"), "apropos", "item1 0.8 0 5"},
        {fr("Vérifier les fichiers du jeu"), "fichiers", "item2 0.8 0 5"},
        {fr("Nouvelle version du client"), "version", "item3 0.8 0 5"},
        {fr("Recommencer depuis le début"), "recommencer", "item4 0.8 0 5"},
    };
}

// Cell k of the grid: its sound is placed in its column (pan 2 + column)
// and pitched by row, so the player hears where the cursor is.
Item cellItem(const Client& c, int k) {
    const char mark = c.board[k];
    std::string label = fr("Case ") + std::to_string(k + 1) + ", " +
                        (mark == 'X' ? fr("votre croix") : mark == 'O' ? fr("rond du serveur") : fr("vide"));
    std::string sound = "case 1 " + std::to_string(2 + k % 3) + " " + std::to_string(-4 * (k / 3));
    return {label, "case" + std::to_string(k + 1), sound};
}

std::vector<Item> gridItems(const Client& c) {
    std::vector<Item> v;
    for (int k = 0; k < 9; ++k) v.push_back(cellItem(c, k));
    return v;
}

std::vector<Item> liveItems(const Client& c) {
    std::vector<Item> v = {
        {fr("Compteur : ") + std::to_string(c.counter), "compteur", "item1"},
        {fr("Ajouter un élément"), "ajouter", "item2"},
        {fr("Retirer le dernier élément ajouté"), "retirer", "item3"},
        {fr("Tout remplacer"), "remplacer", "item4"},
        {fr("Aller au compteur"), "premier", "item5"},
    };
    for (int i = 0; i < c.extraItems; ++i)
        v.push_back({fr("Élément ajouté ") + std::to_string(i + 1), "extra" + std::to_string(i + 1), "item6"});
    return v;
}

constexpr int kLiveFixedItems = 5;

const int kLines[8][3] = {{0, 1, 2}, {3, 4, 5}, {6, 7, 8}, {0, 3, 6},
                          {1, 4, 7}, {2, 5, 8}, {0, 4, 8}, {2, 4, 6}};

char winner(const std::array<char, 9>& b) {
    for (auto& l : kLines)
        if (b[l[0]] != ' ' && b[l[0]] == b[l[1]] && b[l[1]] == b[l[2]]) return b[l[0]];
    return std::count(b.begin(), b.end(), ' ') == 0 ? '=' : 0;
}

// The server's move: win, else block, else centre, else a corner, else any.
int serverMove(const std::array<char, 9>& b) {
    for (char who : {'O', 'X'})
        for (auto& l : kLines) {
            int mine = 0, empty = -1;
            for (int k : l) {
                if (b[k] == who) ++mine;
                else if (b[k] == ' ') empty = k;
            }
            if (mine == 2 && empty >= 0) return empty;
        }
    for (int k : {4, 0, 2, 6, 8, 1, 3, 5, 7})
        if (b[k] == ' ') return k;
    return -1;
}

std::vector<std::string_view> fieldsOf(std::string_view s) {
    std::vector<std::string_view> f;
    size_t i = 0;
    while (i <= s.size()) {
        size_t j = s.find('|', i);
        if (j == std::string_view::npos) j = s.size();
        f.push_back(s.substr(i, j - i));
        i = j + 1;
    }
    return f;
}

std::optional<int> toInt(std::string_view s) {
    if (s.empty() || s.size() > 9) return std::nullopt;
    int v = 0;
    size_t i = s[0] == '-' ? 1 : 0;
    if (i == s.size()) return std::nullopt;
    for (; i < s.size(); ++i) {
        if (s[i] < '0' || s[i] > '9') return std::nullopt;
        v = v * 10 + (s[i] - '0');
    }
    return s[0] == '-' ? -v : v;
}

std::string keyName(int code) {
    std::string mods;
    if (code & 512) mods += "Ctrl+";
    if (code & 1024) mods += "Alt+";
    if (code & 256) mods += "Maj+";
    const int vk = code & 255;
    std::string key;
    if ((vk >= '0' && vk <= '9') || (vk >= 'A' && vk <= 'Z')) key = std::string(1, static_cast<char>(vk));
    else if (vk >= 112 && vk <= 123) key = "F" + std::to_string(vk - 111);
    else if (vk == 13) key = fr("Entrée");
    else if (vk == 27) key = fr("Échap");
    else if (vk == 32) key = fr("Espace");
    else if (vk == 37) key = fr("Gauche");
    else if (vk == 38) key = fr("Haut");
    else if (vk == 39) key = fr("Droite");
    else if (vk == 40) key = fr("Bas");
    else if (vk == 93) key = fr("Menu contextuel");
    else key = fr("code ") + std::to_string(vk);
    return mods + key;
}

}  // namespace

std::string Server::Impl::checkfileLine() const {
    // "+<last write, s since 1970> <path>" for every file of the download
    // area the client needs, so that a second check fetches nothing.
    std::string line = "checkfile";
    auto add = [&](const std::string& rel) {
        struct stat st {};
        if (::stat((opt.downloadDir + "/" + rel).c_str(), &st) != 0) return;
        line += " +" + std::to_string(static_cast<long long>(st.st_mtime)) + " " + rel;
    };
    for (const char* s : kSounds) add(std::string("sounds/") + s + ".ogg");
    for (const char* m : kMusics) add(std::string("sounds/") + m + ".ogg");
    add("kordoext.so");
    return line;
}

void Server::Impl::onLoggedIn(Client& c) {
    std::string preload = "preload";
    for (const char* s : kSounds) preload += std::string(" ") + s;
    send(c, checkfileLine());
    send(c, preload);
    send(c, "music mustart");
    send(c, fr("say Bienvenue sur Le Kordo, ") + c.name + fr(" ! Flèches pour choisir, Entrée pour valider."));
    send(c, "menu " + menuText(kMainMenu, 1, 0, MENU_STAYS_OPEN, mainItems()));
    for (auto& o : clients)
        if (o.get() != &c && o->loggedIn && o->inChat && !o->dead) {
            send(*o, fr("say ") + c.displayName + fr(" vient d'arriver sur le serveur."));
            send(*o, "play entree");
        }
}

void Server::Impl::onLeave(Client& c) {
    for (auto& o : clients)
        if (o.get() != &c && o->loggedIn && !o->dead && o->inChat) {
            send(*o, fr("say ") + c.displayName + fr(" a quitté le serveur."));
            send(*o, "play sortie");
        }
}

namespace {

void enterPlace(Server::Impl& s, Client& c, const std::string& place) {
    // Music follows the place: the game has its own, everything else the
    // welcome music.  The client ignores a repeat of the current music.
    c.place = place;
    s.send(c, place == "morpion" ? "music mujeu" : "music mustart");
}

void newGame(Server::Impl& s, Client& c, bool replace) {
    c.board.fill(' ');
    c.gameOver = false;
    const std::string text = menuText(kGridMenu, 3, 4, MENU_STAYS_OPEN, gridItems(c));
    s.send(c, (replace ? "umenu " : "menu ") + text);
    s.send(c, fr("sayi Morpion : vous jouez les croix. Choisissez une case avec les flèches et Entrée."));
}

void endOfGame(Server::Impl& s, Client& c, char w) {
    c.gameOver = true;
    if (w == 'X') {
        s.send(c, "playurg victoire");
        s.send(c, fr("sayurg Vous avez gagné !"));
    } else if (w == 'O') {
        s.send(c, "play defaite");
        s.send(c, fr("sayi Le serveur a gagné."));
    } else {
        s.send(c, "play egalite");
        s.send(c, fr("sayi Match nul."));
    }
    s.send(c, "msgbox " + std::to_string(kAskReplay) + fr("|Morpion|Voulez-vous rejouer ?|4"));
}

void playCell(Server::Impl& s, Client& c, int k) {
    if (c.gameOver) {
        s.send(c, fr("sayi La partie est finie."));
        return;
    }
    if (k < 0 || k > 8 || c.board[k] != ' ') {
        s.send(c, "play menubounds");
        s.send(c, fr("sayi Case occupée."));
        return;
    }
    c.board[k] = 'X';
    s.send(c, "play pose");
    s.send(c, "uitem " + std::to_string(k) + "|" + itemFields(cellItem(c, k)));
    if (char w = winner(c.board)) return endOfGame(s, c, w);
    int m = serverMove(c.board);
    c.board[m] = 'O';
    s.send(c, "uitem " + std::to_string(m) + "|" + itemFields(cellItem(c, m)));
    // A replaced item becomes the selection: give the cursor back.
    s.send(c, "movem " + std::to_string(kGridMenu) + "|" + std::to_string(k));
    s.send(c, "play serveur 1 " + std::to_string(2 + m % 3));
    s.send(c, fr("say Le serveur joue en case ") + std::to_string(m + 1) + ".");
    if (char w = winner(c.board)) endOfGame(s, c, w);
}

void openChat(Server::Impl& s, Client& c) {
    c.inChat = true;
    int n = 0;
    for (auto& o : s.clients) n += o->loggedIn && !o->dead;
    s.send(c, fr("sayi Salon de discussion : ") + std::to_string(n) +
                  fr(" joueur(s) connecté(s). Écrivez dans la ligne de discussion ; //who liste les "
                     "joueurs, //@nom message chuchote."));
    for (auto& o : s.clients)
        if (o.get() != &c && o->loggedIn && !o->dead && o->inChat)
            s.send(*o, fr("say ") + c.displayName + fr(" entre dans le salon."));
}

Client* findPlayer(Server::Impl& s, std::string_view name) {
    for (auto& o : s.clients)
        if (o->loggedIn && !o->dead && (o->name == name || o->displayName == name)) return o.get();
    return nullptr;
}

void chatCommand(Server::Impl& s, Client& c, std::string_view cmd) {
    if (cmd == "/who" || cmd == "who") {
        std::string names;
        for (auto& o : s.clients)
            if (o->loggedIn && !o->dead) names += (names.empty() ? "" : ", ") + o->displayName;
        s.send(c, fr("say Connectés : ") + names + ".");
        return;
    }
    if (cmd.starts_with("@")) {
        size_t sp = cmd.find(' ');
        std::string_view to = cmd.substr(1, sp == std::string_view::npos ? cmd.npos : sp - 1);
        std::string_view text = sp == std::string_view::npos ? std::string_view() : cmd.substr(sp + 1);
        Client* o = findPlayer(s, to);
        if (!o || text.empty()) {
            s.send(c, fr("sayi Personne ne s'appelle ") + std::string(to) + fr(", ou message vide."));
            return;
        }
        s.send(*o, "play chuchote");
        s.send(*o, "sayurg " + c.displayName + fr(" vous chuchote : ") + std::string(text));
        s.send(c, fr("say Chuchoté à ") + o->displayName + " : " + std::string(text));
        return;
    }
    s.send(c, fr("sayi Commande inconnue. Essayez //who ou //@nom message."));
}

void chatLine(Server::Impl& s, Client& c, std::string_view text) {
    if (text.empty()) return;
    // Every connected player hears the chat, wherever they are in the game.
    for (auto& o : s.clients)
        if (o.get() != &c && o->loggedIn && !o->dead) {
            s.send(*o, "play message");
            s.send(*o, "say " + c.displayName + " : " + std::string(text));
        }
    s.send(c, "say " + c.displayName + " : " + std::string(text));
}

void soundsTour(Server::Impl& s, Client& c) {
    s.send(c, fr("say Ceci est un message ordinaire, gardé dans l'historique."));
    s.send(c, fr("saynh Celui-ci est dit mais pas gardé."));
    s.send(c, fr("sayi Celui-ci interrompt la parole en cours."));
    s.send(c, fr("sayurg Celui-ci est dit même quand la fenêtre n'est pas active."));
    s.send(c, "play item1 1 -1");
    s.send(c, "play item2 1 1 7");
    s.send(c, "playurg alerte");
    s.send(c, "playow fond");
}

void select(Server::Impl& s, Client& c, int menuId, int index, std::string_view value) {
    if (menuId == kMainMenu) {
        if (index < 0) {
            s.send(c, fr("sayi Vous êtes au menu principal. Fermez le client pour partir."));
            return;
        }
        if (value == "morpion") {
            enterPlace(s, c, "morpion");
            newGame(s, c, false);
        } else if (value == "salon") {
            enterPlace(s, c, "salon");
            openChat(s, c);
        } else if (value == "touches") {
            enterPlace(s, c, "touches");
            s.send(c, "menu " + menuText(kKeysMenu, 1, 0, MENU_STAYS_OPEN | MENU_KEY_CONTEXT,
                                         {{fr("Pomme"), "pomme", "item1"},
                                          {fr("Poire"), "poire", "item2"},
                                          {fr("Prune"), "prune", "item3"}}));
            s.send(c, fr("sayi Appuyez sur des touches : le serveur vous dit lesquelles. Échap pour sortir."));
        } else if (value == "vivant") {
            enterPlace(s, c, "vivant");
            s.send(c, "menu " + menuText(kLiveMenu, 1, 0, MENU_STAYS_OPEN, liveItems(c)));
        } else if (value == "sons") {
            soundsTour(s, c);
        } else if (value == "nom") {
            s.send(c, "input " + std::to_string(kAskName) + fr("|Votre nom|Comment voulez-vous être appelé ?|") +
                          noBars(c.displayName));
        } else if (value == "question") {
            s.send(c, "msgbox " + std::to_string(kAskQuestion) + fr("|Question|Aimez-vous le morpion ?|4"));
        } else if (value == "extension") {
            s.send(c, "dllq kordoext.dll:kordo_ext_query|7|" + noBars(c.displayName));
        } else if (value == "apropos") {
            // The address the download area really answers on.
            const std::string port = s.boundHttpPort == 80 ? "" : ":" + std::to_string(s.boundHttpPort);
            s.send(c, "browse http://localhost" + port + "/about.php");
        } else if (value == "fichiers") {
            s.send(c, fr("say Vérification des fichiers du jeu."));
            s.send(c, s.checkfileLine());
        } else if (value == "version") {
            s.send(c, "newVersion *kordo-setup.sh");
        } else if (value == "recommencer") {
            s.send(c, "close all menus");
            enterPlace(s, c, "accueil");
            s.send(c, "menu " + menuText(kMainMenu, 1, 0, MENU_STAYS_OPEN, mainItems()));
        } else {
            s.send(c, "play menubounds");
        }
        return;
    }
    if (menuId == kGridMenu) {
        if (index < 0) {
            s.send(c, "close menu");
            enterPlace(s, c, "accueil");
            return;
        }
        playCell(s, c, index);
        return;
    }
    if (menuId == kKeysMenu || menuId == kLiveMenu) {
        if (index < 0) {
            s.send(c, "close menu");
            enterPlace(s, c, "accueil");
            return;
        }
    }
    if (menuId == kKeysMenu) {
        s.send(c, fr("say Vous avez choisi ") + std::string(value) + ".");
        return;
    }
    if (menuId == kLiveMenu) {
        if (value == "compteur") {
            ++c.counter;
            s.send(c, "uitem 0|" + itemFields(liveItems(c)[0]));
        } else if (value == "ajouter") {
            ++c.extraItems;
            const int k = kLiveFixedItems + c.extraItems - 1;
            s.send(c, "uitem " + std::to_string(k) + "|" + itemFields(liveItems(c)[k]));
        } else if (value == "retirer") {
            if (c.extraItems == 0) {
                s.send(c, "play menubounds");
                s.send(c, fr("sayi Rien à retirer."));
                return;
            }
            const int k = kLiveFixedItems + --c.extraItems;
            s.send(c, "uitem -" + std::to_string(k + 1));
        } else if (value == "remplacer") {
            c.counter = 0;
            s.send(c, "umenu " + menuText(kLiveMenu, 1, 3, MENU_STAYS_OPEN, liveItems(c)));
            s.send(c, fr("sayi Menu remplacé, compteur remis à zéro."));
        } else if (value == "premier") {
            s.send(c, "movem " + std::to_string(kLiveMenu) + "|0");
        } else {
            s.send(c, fr("say Élément ") + std::string(value) + ".");
        }
        return;
    }
    s.send(c, "play menubounds");
}

}  // namespace

void Server::Impl::onGameLine(Client& c, std::string_view line) {
    auto bad = [&] { log(c, "malformed line ignored: " + std::string(line.substr(0, 120))); };
    if (line.starts_with("select ")) {
        auto f = fieldsOf(line.substr(7));
        auto id = f.size() >= 2 ? toInt(f[0]) : std::nullopt;
        auto index = f.size() >= 2 ? toInt(f[1]) : std::nullopt;
        if (!id || !index) return bad();
        return select(*this, c, *id, *index, f.size() >= 3 ? f[2] : std::string_view());
    }
    if (line.starts_with("kem ")) {
        auto f = fieldsOf(line.substr(4));
        auto code = f.size() >= 3 ? toInt(f[0]) : std::nullopt;
        if (!code) return bad();
        if ((*code & 255) == 27) {
            send(c, "close menu");
            enterPlace(*this, c, "accueil");
            return;
        }
        send(c, "play touche");
        send(c, fr("saynh ") + keyName(*code) + fr(" sur ") + std::string(f.size() >= 4 ? f[3] : "?"));
        return;
    }
    if (line.starts_with("key ")) {
        auto code = toInt(line.substr(4));
        if (!code) return bad();
        if ((*code & 255) == 112)
            send(c, fr("sayi Aide : flèches pour se déplacer, Entrée pour choisir, Échap pour revenir."));
        return;
    }
    if (line.starts_with("input ")) {
        std::string_view rest = line.substr(6);
        size_t bar = rest.find('|');
        auto id = toInt(rest.substr(0, bar));
        if (!id || bar == std::string_view::npos) return bad();
        std::string_view text = rest.substr(bar + 1);
        if (*id == kChatInput) return chatLine(*this, c, text);
        if (*id == kAskName) {
            std::string n = noBars(text);
            if (n.empty() || n.size() > 32) {
                send(c, fr("sayi Nom refusé : entre 1 et 32 caractères."));
                return;
            }
            c.displayName = n;
            send(c, fr("say Enchanté, ") + n + " !");
            return;
        }
        return bad();
    }
    if (line.starts_with("msgboxresp ")) {
        auto f = fieldsOf(line.substr(11));
        auto id = f.size() == 2 ? toInt(f[0]) : std::nullopt;
        auto code = f.size() == 2 ? toInt(f[1]) : std::nullopt;
        if (!id || !code) return bad();
        const bool yes = *code == 6;
        if (*id == kAskQuestion) {
            send(c, yes ? fr("say Tant mieux, une partie vous attend.") : fr("say Dommage, essayez quand même."));
        } else if (*id == kAskReplay) {
            if (yes) {
                newGame(*this, c, true);
            } else {
                send(c, "close menu");
                enterPlace(*this, c, "accueil");
                send(c, fr("say Retour au menu principal."));
            }
        } else {
            bad();
        }
        return;
    }
    if (line.starts_with("dllqr ")) {
        auto f = fieldsOf(line.substr(6));
        if (f.size() < 2 || !toInt(f[0])) return bad();
        std::string text(line.substr(6 + f[0].size() + 1));
        send(c, fr("say L'extension a répondu : ") + text);
        return;
    }
    // Chat lines typed with "//" arrive without those two bytes: "//who"
    // comes as "who", "///who" as "/who", "//@nom texte" as "@nom texte".
    if (line == "who" || line.starts_with("/") || line.starts_with("@")) return chatCommand(*this, c, line);
    bad();
}
