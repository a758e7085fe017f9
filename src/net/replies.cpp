#include "net/replies.h"

#include <initializer_list>

#include "net/protocol.h"
#include "platform/radix36.h"

namespace {
// The parts one after the other, then "\n", in one allocation.
std::string line(std::initializer_list<std::string_view> parts) {
    size_t n = 1;
    for (std::string_view p : parts) n += p.size();
    std::string out;
    out.reserve(n);
    for (std::string_view p : parts) out += p;
    out += '\n';
    return out;
}
}  // namespace

std::string loginReply(std::string_view challenge, std::string_view login,
                       std::string_view password, std::string_view clientId) {
    return line({"login ", login, "|", password, "|", std::to_string(kProtocolNumber), "|fr|",
                 clientId, "|", toBase36(doChallenge(challenge, login, password))});
}

std::string_view pongReply() {
    return "pong\n";
}

std::string_view quitReply() {
    return "quit\n";
}

std::string keyReply(const KeyReport& key, const KeyMenuContext* menu) {
    const int code = key.key + (key.shift ? 256 : 0) + (key.ctrl ? 512 : 0) + (key.alt ? 1024 : 0);
    if (!menu) return line({"key ", std::to_string(code)});
    return line({"kem ", std::to_string(code), "|", std::to_string(menu->menuId), "|",
                 std::to_string(menu->selection), "|", menu->value});
}

std::string selectReply(int32_t menuId, int32_t index, std::string_view value) {
    if (index < 0) return line({"select ", std::to_string(menuId), "|-1|-1"});
    return line({"select ", std::to_string(menuId), "|", std::to_string(index), "|", value});
}

std::string inputReply(uint32_t id, std::string_view answer) {
    return line({"input ", std::to_string(id), "|", answer});
}

std::string msgboxReply(uint32_t id, int result) {
    return line({"msgboxresp ", std::to_string(id), "|", std::to_string(result)});
}

std::string chatReply(std::string_view text) {
    if (text.starts_with("//")) return line({text.substr(2)});
    return line({"input 60003|", text});
}

std::string dllqReply(int32_t id, std::string_view text) {
    return line({"dllqr ", std::to_string(id), "|", text});
}
