#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "net/line_buffer.h"
#include "net/protocol.h"

namespace {
using C = ServerCommand;

struct DispatchCase {
    std::string line;
    bool matches;
    C command;
    std::string payload;
    bool required;
};

TEST(CommandTable, PrefixesOffsetsAndOverlaps) {
    const std::vector<DispatchCase> cases = {
        {"ping", true, C::Ping, "", true},
        {"ping\r", true, C::Ping, "", true},
        {"pingpong and more", true, C::Ping, "", true},
        {"Ping", false, C::Ping, "", true},
        {"say hello", true, C::Say, "hello", true},
        {"say ", true, C::Say, "", true},
        {"say", false, C::Say, "", true},
        {"saynh quiet", true, C::SayNh, "quiet", true},
        {"sayi now", true, C::SayI, "now", true},
        {"sayurg help", true, C::SayUrg, "help", true},
        {"play door", true, C::Play, "door", true},
        {"playurg bell", true, C::PlayUrg, "bell", true},
        {"playow wind", true, C::PlayOw, "wind", true},
        {"input 7|Nom", true, C::Input, "7|Nom", true},
        {"menu 1|Titre", true, C::Menu, "1|Titre", true},
        {"uitem 3|x", true, C::UItem, " 3|x", true},
        {"umenu 2|y", true, C::UMenu, "2|y", true},
        {"close menu", true, C::CloseMenu, "", true},
        {"close menus now", true, C::CloseMenu, "", true},
        {"close all menus", true, C::CloseAllMenus, "", true},
        {"movem 4|2", true, C::MoveM, "4|2", true},
        {"movemX4|2", true, C::MoveM, "4|2", true},
        {"music theme", true, C::Music, "theme", true},
        {"dllq 1|lib|f|a", true, C::DllQ, "1|lib|f|a", true},
        {"browse http://x", true, C::Browse, "http://x", true},
        {"checkfile a|1", true, C::CheckFile, "a|1", true},
        {"preload a|b", true, C::Preload, "a|b", true},
        {"msgbox 3|1|t|m", true, C::MsgBox, "3|1|t|m", true},
        {"msgbox", true, C::MsgBox, "", true},
        {"newVersion *setup.exe", true, C::NewVersion, "setup.exe", false},
        {"newVersion  setup.exe", true, C::NewVersion, "setup.exe", true},
        {"newVersionX*setup.exe", true, C::NewVersion, "setup.exe", false},
        {"newVersion", true, C::NewVersion, "", true},
        {"newVersion *", true, C::NewVersion, "", false},
        {"status 1", true, C::Status, "1", true},
        {"status ", true, C::Status, "", true},
        {"challenge xyz", true, C::Challenge, "xyz", true},
        {"challenge", true, C::Challenge, "", true},
        {"hello there", false, C::Ping, "", true},
        {"", false, C::Ping, "", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.line);
        ParsedCommand p;
        ASSERT_EQ(parseCommand(c.line, &p), c.matches);
        if (!c.matches) continue;
        EXPECT_EQ(p.command, c.command);
        EXPECT_EQ(std::string(p.payload), c.payload);
        if (c.command == C::NewVersion) {
            EXPECT_EQ(p.required, c.required);
        }
    }
}

TEST(CommandTable, HasEveryRowOnceInOrder) {
    for (int i = 0; i < static_cast<int>(C::Count); ++i)
        EXPECT_EQ(static_cast<int>(kCommandTable[i].command), i);
}

TEST(CommandTable, StartsWithIsBytewise) {
    EXPECT_TRUE(startsWith("anything", ""));
    EXPECT_TRUE(startsWith("say x", "say "));
    EXPECT_FALSE(startsWith("sa", "say"));
    EXPECT_FALSE(startsWith("Say x", "say"));
    EXPECT_TRUE(startsWith(std::string_view("\xE9t\xE9", 3), "\xE9"));
}

// A sound description is read once, into the record the sound unit takes;
// the numbers are not bounded here (the sound unit bounds them after the
// player's volume), only made finite.
TEST(SoundSpec, FieldsAndLeadingNumbers) {
    const struct {
        std::string text;
        std::string name;
        double volume, pan, semitones;
    } cases[] = {
        // No field: no name (and the defaults).
        {"", "", 1, 0, 0},
        {"    ", "", 1, 0, 0},
        {"door", "door", 1, 0, 0},
        {"  door   0.5  -1", "door", 0.5, -1, 0},
        {"door 1 5 12", "door", 1, 5, 12},
        {"door 1 5 12 more fields", "door", 1, 5, 12},
        {"porte\xE9 +2 .5 -3x", "porte\xE9", 2, 0.5, -3},
        {"door x y z", "door", 0, 0, 0},  // no leading number: 0
        {"door nan inf", "door", 0, 0, 0},
        {"door 1e400", "door", 0, 0, 0},  // beyond double: 0
        {"door 1e39 -1e39", "door", 1e39, -1e39, 0},
        {"sub/dir/name", "sub/dir/name", 1, 0, 0},  // safety is the sound unit's
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        const SoundSpec spec = parseSoundSpec(c.text);
        EXPECT_EQ(spec.name, c.name);
        EXPECT_EQ(spec.text, c.text);
        EXPECT_EQ(spec.volume, c.volume);
        EXPECT_EQ(spec.pan, c.pan);
        EXPECT_EQ(spec.semitones, c.semitones);
    }
}

// Feeds `chunks` to a LineBuffer as successive receives.
std::vector<std::string> split(const std::vector<std::string>& chunks,
                               size_t size = LineBuffer::kSize) {
    LineBuffer lb(size);
    std::vector<std::string> lines;
    for (const std::string& c : chunks) {
        size_t pos = 0;
        while (pos < c.size()) {
            size_t n = std::min(c.size() - pos, lb.writeSpace());
            std::memcpy(lb.writePtr(), c.data() + pos, n);
            pos += n;
            lb.commit(n, [&](std::string_view line) {
                EXPECT_EQ(line.data()[line.size()], '\0');  // terminated in place
                lines.emplace_back(line);
            });
        }
    }
    return lines;
}

using Lines = std::vector<std::string>;

TEST(LineSplitting, Framing) {
    EXPECT_EQ(split({"a\nbb\nccc\n"}), (Lines{"a", "bb", "ccc"}));
    EXPECT_EQ(split({"say he", "llo wor", "ld\nnext"}), (Lines{"say hello world"}));
    EXPECT_EQ(split({"ping\r\n"}), (Lines{"ping\r"}));
    EXPECT_EQ(split({"\n\n"}), (Lines{"", ""}));
    EXPECT_EQ(split({"x", "", "y\n"}), (Lines{"xy"}));
    // A zero byte is data: the lines after it are still found.
    EXPECT_EQ(split({std::string("a\0b\nc\n", 6)}), (Lines{std::string("a\0b", 3), "c"}));
}

TEST(LineSplitting, OverlongLineIsDroppedAndTheStreamGoesOn) {
    // A 16-byte buffer holds lines of at most 14 bytes before the "\n".
    const std::string fits(14, 'f'), tooLong(15, 'x'), huge(100, 'h');
    EXPECT_EQ(split({fits + "\n"}, 16), (Lines{fits}));
    EXPECT_EQ(split({"a\n" + tooLong + "\nb\n"}, 16), (Lines{"a", "b"}));
    EXPECT_EQ(split({"a\n" + huge.substr(0, 40), huge.substr(40) + "\nb\n", "c\n"}, 16),
              (Lines{"a", "b", "c"}));
    // Byte by byte too.
    std::vector<std::string> bytes;
    for (char ch : "one\n" + huge + "\ntwo\n") bytes.emplace_back(1, ch);
    EXPECT_EQ(split(bytes, 16), (Lines{"one", "two"}));
}
}  // namespace
