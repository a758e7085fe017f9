#include "net/protocol.h"

#include <limits>

namespace {
using C = ServerCommand;
}

const CommandRow kCommandTable[static_cast<int>(ServerCommand::Count)] = {
    {"ping", kNoPayload, C::Ping},
    {"say ", 4, C::Say},
    {"saynh ", 6, C::SayNh},
    {"sayi ", 5, C::SayI},
    {"sayurg ", 7, C::SayUrg},
    {"play ", 5, C::Play},
    {"playurg ", 8, C::PlayUrg},
    {"playow ", 7, C::PlayOw},
    {"input ", 6, C::Input},
    {"menu ", 5, C::Menu},
    {"uitem ", 5, C::UItem},  // the space after the keyword is the payload's first byte
    {"umenu ", 6, C::UMenu},
    {"close menu", kNoPayload, C::CloseMenu},
    {"close all menus", kNoPayload, C::CloseAllMenus},
    {"movem", 6, C::MoveM},
    {"music ", 6, C::Music},
    {"dllq ", 5, C::DllQ},
    {"browse ", 7, C::Browse},
    {"checkfile ", 10, C::CheckFile},
    {"preload ", 8, C::Preload},
    {"msgbox", 7, C::MsgBox},
    {"newVersion", 12, C::NewVersion},
    {"status ", 7, C::Status},
    {"challenge", 10, C::Challenge},
};

bool startsWith(std::string_view s, std::string_view t) {
    return s.size() >= t.size() && s.compare(0, t.size(), t) == 0;
}

bool parseCommand(std::string_view line, ParsedCommand* out) {
    for (const CommandRow& row : kCommandTable) {
        if (!startsWith(line, row.prefix)) continue;
        out->command = row.command;
        out->payload = {};
        if (row.offset != kNoPayload && line.size() > static_cast<size_t>(row.offset))
            out->payload = line.substr(static_cast<size_t>(row.offset));
        out->required = !(line.size() > 11 && line[11] == '*');
        return true;
    }
    return false;
}

int32_t parseStatus(std::string_view p) {
    size_t i = 0;
    while (i < p.size() && (p[i] == ' ' || (p[i] >= '\t' && p[i] <= '\r'))) ++i;
    bool negative = false;
    if (i < p.size() && (p[i] == '+' || p[i] == '-')) negative = p[i++] == '-';
    int64_t v = 0;
    constexpr int64_t kLimit = int64_t{std::numeric_limits<int32_t>::max()} + 1;
    for (; i < p.size() && p[i] >= '0' && p[i] <= '9'; ++i) {
        v = v * 10 + (p[i] - '0');
        if (v > kLimit) v = kLimit;
    }
    if (negative) v = -v;
    if (v > std::numeric_limits<int32_t>::max()) v = std::numeric_limits<int32_t>::max();
    return static_cast<int32_t>(v);
}
