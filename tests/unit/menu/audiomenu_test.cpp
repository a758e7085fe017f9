// The menu text and item text parser: field rules, item changes and where
// the selection goes, and malformed text that must never be read past.
#include "menu/audiomenu.h"

#include <gtest/gtest.h>

namespace {

using Opt = std::optional<std::string>;
using namespace std::literals;

TEST(MenuText, ReadsHeaderAndItemsWithNullInAnyCase) {
    auto m = menu_create("12|3|4|2|9|reserved|a|va|sa|ia|null|NULL|Null|i|nul|null |x|i|B|vb|sb|ib|extra|x|y|z");
    EXPECT_EQ(m->id, 12);
    EXPECT_EQ(m->width, 3);
    EXPECT_EQ(m->nItems, 4);
    EXPECT_EQ(m->selection, 2);
    EXPECT_EQ(m->flags, 9);
    ASSERT_EQ(m->items.size(), 4u);
    EXPECT_EQ(m->items[0].label, Opt("a"));
    EXPECT_EQ(m->items[0].value, Opt("va"));
    EXPECT_EQ(m->items[0].sound, Opt("sa"));
    EXPECT_EQ(m->items[1].label, std::nullopt);
    EXPECT_EQ(m->items[1].value, std::nullopt);
    EXPECT_EQ(m->items[1].sound, std::nullopt);
    EXPECT_EQ(m->items[2].label, Opt("nul"));
    EXPECT_EQ(m->items[2].value, Opt("null "));
    EXPECT_EQ(m->items[3].label, Opt("B"));
}

TEST(MenuText, RunsOfSeparatorsCountAsOneAndShiftTheFields) {
    // The reserved field left empty: "a" becomes the reserved field.
    auto m = menu_create("|1|1|2|0|0||a|va|sa|ia|b|vb|sb|ib");
    ASSERT_EQ(m->nItems, 2);
    EXPECT_EQ(m->id, 1);
    EXPECT_EQ(m->items[0].label, Opt("va"));
    EXPECT_EQ(m->items[0].value, Opt("sa"));
    EXPECT_EQ(m->items[0].sound, Opt("ia"));
    EXPECT_EQ(m->items[1].label, Opt("vb"));
    EXPECT_EQ(m->items[1].value, Opt("sb"));
    EXPECT_EQ(m->items[1].sound, Opt("ib"));
}

TEST(MenuText, TextsAreTakenByteForByte) {
    auto m = menu_create("1|1|1|0|0|r| \xE9t\xE9  |v a l|snd 0.5 -1 0|img");
    EXPECT_EQ(m->items[0].label, Opt(" \xE9t\xE9  "));
    EXPECT_EQ(m->items[0].value, Opt("v a l"));
    EXPECT_EQ(m->items[0].sound, Opt("snd 0.5 -1 0"));
}

TEST(MenuText, MalformedTextNeverReadsPastItsEnd) {
    struct Case {
        std::string_view text;
        int32_t id, nItems, selection;
        Opt lastLabel, lastValue;
    };
    const Case cases[] = {
        {"", 0, 0, 0, {}, {}},
        {"7", 7, 0, 0, {}, {}},
        {"7|2", 7, 0, 0, {}, {}},
        {"7|1|3|1|0|r", 7, 0, 1, {}, {}},              // items announced, none sent
        {"7|1|3|1|0|r|a", 7, 1, 1, Opt("a"), {}},      // one partial group
        {"7|1|3|1|0|r|a|b|c|d|e", 7, 2, 1, Opt("e"), {}},
        {"7|1|-4|0|0|r|a|b|c|d", 7, 0, 0, {}, {}},     // negative count: no items
        {"7|1|2000000000|0|0|r|a|b|c|d", 7, 1, 0, Opt("a"), Opt("b")},
        {"7|1|1|0|0|r|a\0b|v|s|i"sv, 7, 1, 0, Opt("a"), {}},  // NUL ends the text
        {" -3x|1|0|0|0", -3, 0, 0, {}, {}},
        {"abc|1|0|0|0", 0, 0, 0, {}, {}},
        {"99999999999|1|0|0|0", INT32_MAX, 0, 0, {}, {}},
        {"-99999999999|1|0|0|0", INT32_MIN, 0, 0, {}, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.text));
        auto m = menu_create(c.text);
        EXPECT_EQ(m->id, c.id);
        EXPECT_EQ(m->nItems, c.nItems);
        EXPECT_EQ(m->items.size(), static_cast<size_t>(m->nItems));
        EXPECT_EQ(m->selection, c.selection);
        if (c.nItems > 0) {
            EXPECT_EQ(m->items.back().label, c.lastLabel);
            EXPECT_EQ(m->items.back().value, c.lastValue);
        }
    }
}

TEST(MenuText, UpdateKeepsTheRecordAndReplacesEveryItem) {
    auto m = menu_create("1|1|3|0|0|r|a|a|a|a|b|b|b|b|c|c|c|c");
    menu* before = m.get();
    EXPECT_EQ(menu_update(m.get(), "2|3|1|0|4|r|z|vz|sz|iz"), before);
    EXPECT_EQ(m->id, 2);
    ASSERT_EQ(m->nItems, 1);
    EXPECT_EQ(m->items[0].label, Opt("z"));
}

// Item text against a six-item menu "i0".."i5".
TEST(ItemText, ReplaceAppendDeleteAndTheSelection) {
    struct Case {
        const char* text;
        int32_t selectionBefore;
        int code;
        int32_t selectionAfter;
        std::vector<const char*> labels;
    };
    const Case cases[] = {
        {"2|new|v|s|img", 5, 0, 2, {"i0", "i1", "new", "i3", "i4", "i5"}},
        {" 1|a", 0, 0, 1, {"i0", "a", "i2", "i3", "i4", "i5"}},  // "uitem " leaves the space
        {"6|x|v|s|i", 0, 7, 6, {"i0", "i1", "i2", "i3", "i4", "i5", "x"}},
        {"11|x|v|s|i", 0, 12, 6, {"i0", "i1", "i2", "i3", "i4", "i5", "x"}},
        {"-1", 0, -1, 0, {"i1", "i2", "i3", "i4", "i5"}},
        {"-4", 3, -4, 2, {"i0", "i1", "i2", "i4", "i5"}},
        {"-2", 3, -2, 3, {"i0", "i2", "i3", "i4", "i5"}},
        {"-6", 5, -6, 4, {"i0", "i1", "i2", "i3", "i4"}},
        {"-7", 2, kMenuItemUnchanged, 2, {"i0", "i1", "i2", "i3", "i4", "i5"}},
        {"-2147483648", 2, kMenuItemUnchanged, 2, {"i0", "i1", "i2", "i3", "i4", "i5"}},
        {"2147483647|big", 0, INT32_MAX, 6, {"i0", "i1", "i2", "i3", "i4", "i5", "big"}},
        {"", 4, 0, 0, {nullptr, "i1", "i2", "i3", "i4", "i5"}},  // no index: item 0, fields absent
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        auto m = menu_create("1|1|6|0|0|r|i0|v0|s0|-|i1|v1|s1|-|i2|v2|s2|-|i3|v3|s3|-|i4|v4|s4|-|i5|v5|s5|-");
        m->selection = c.selectionBefore;
        EXPECT_EQ(menu_updateitem(m.get(), c.text), c.code);
        EXPECT_EQ(m->selection, c.selectionAfter);
        ASSERT_EQ(m->items.size(), c.labels.size());
        EXPECT_EQ(m->nItems, static_cast<int32_t>(c.labels.size()));
        for (size_t i = 0; i < c.labels.size(); ++i)
            EXPECT_EQ(m->items[i].label, c.labels[i] ? Opt(c.labels[i]) : Opt()) << "item " << i;
    }
}

// Menu text of n items "x|v|s|i" under the given id.
std::string itemsText(int id, int n) {
    std::string s = std::to_string(id) + "|1|" + std::to_string(n) + "|0|0|r";
    for (int i = 0; i < n; ++i) s += "|x|v|s|i";
    return s;
}

// Every way of adding items stops at the cap: a menu text, a whole-menu
// update of an open menu, and appends, which then change nothing at all.
TEST(MenuCaps, NoWayOfAddingItemsGoesPastTheCap) {
    const std::string tooMany = itemsText(1, kMaxMenuItems + 3);
    auto m = menu_create(tooMany);
    EXPECT_EQ(m->nItems, kMaxMenuItems);
    menu_update(m.get(), itemsText(1, 2));
    EXPECT_EQ(m->nItems, 2);
    menu_update(m.get(), tooMany);
    EXPECT_EQ(m->nItems, kMaxMenuItems);
    EXPECT_EQ(m->items.size(), static_cast<size_t>(kMaxMenuItems));

    m->selection = 5;
    EXPECT_EQ(menu_updateitem(m.get(), " 2147483647|over"), kMenuItemUnchanged);
    EXPECT_EQ(menu_updateitem(m.get(), " " + std::to_string(kMaxMenuItems) + "|over"), kMenuItemUnchanged);
    EXPECT_EQ(m->nItems, kMaxMenuItems);
    EXPECT_EQ(m->selection, 5);
    EXPECT_EQ(m->items.back().label, Opt("x"));
    // Replacing stays possible at the cap, and a deletion makes room for one.
    EXPECT_EQ(menu_updateitem(m.get(), " 0|first"), 0);
    EXPECT_EQ(menu_updateitem(m.get(), "-1"), -1);
    EXPECT_EQ(menu_updateitem(m.get(), " 2147483647|last"), INT32_MAX);
    EXPECT_EQ(m->nItems, kMaxMenuItems);
    EXPECT_EQ(m->items.back().label, Opt("last"));
    EXPECT_EQ(menu_updateitem(m.get(), " 2147483647|over"), kMenuItemUnchanged);
}

// Item texts are bounded per menu too: long items can be appended or grown
// until the menu's texts reach kMaxMenuTextBytes, then only what shrinks or
// keeps the total is applied.
TEST(MenuCaps, ItemTextsStayWithinTheMenuBudget) {
    const std::string quarter(kMaxMenuTextBytes / 4 - 2, 'q');  // with "v" and "s": a quarter
    auto m = menu_create("1|1|0|0|0|r");
    for (int i = 0; i < 4; ++i) EXPECT_EQ(menu_updateitem(m.get(), " 99|" + quarter + "|v|s"), 100) << i;
    EXPECT_EQ(m->nItems, 4);
    EXPECT_EQ(menu_updateitem(m.get(), " 99|a|v|s"), kMenuItemUnchanged);  // one byte too many
    EXPECT_EQ(menu_updateitem(m.get(), " 0|" + quarter + "q|v|s"), kMenuItemUnchanged);  // grows
    EXPECT_EQ(m->items[0].label, Opt(quarter));
    EXPECT_EQ(menu_updateitem(m.get(), " 0|short|v|s"), 0);  // shrinks
    EXPECT_EQ(menu_updateitem(m.get(), " 99|a|v|s"), 100);
    EXPECT_EQ(menu_updateitem(m.get(), " 99|" + quarter + "|v|s"), kMenuItemUnchanged);
    EXPECT_EQ(menu_updateitem(m.get(), "-2"), -2);  // a deletion gives its bytes back
    EXPECT_EQ(menu_updateitem(m.get(), " 99|" + quarter + "|v|s"), 100);
    EXPECT_EQ(m->nItems, 5);
    // A whole-menu update starts the count afresh.
    menu_update(m.get(), "1|1|1|0|0|r|" + quarter + "|v|s|i");
    EXPECT_EQ(menu_updateitem(m.get(), " 99|" + quarter + "|v|s"), 100);
}

TEST(ItemText, FreeingMakesEverythingAbsent) {
    auto m = menu_create("1|1|1|0|0|r|a|b|c|d");
    menu_freeitem(&m->items[0]);
    EXPECT_FALSE(m->items[0].label || m->items[0].value || m->items[0].sound);
    menu_freeitems(m.get());
    EXPECT_EQ(m->nItems, 0);
    EXPECT_TRUE(m->items.empty());
    EXPECT_EQ(copy(nullptr), std::nullopt);
    EXPECT_EQ(copy("x"), Opt("x"));
}

}  // namespace
