// The main window's controls as the headless front-end models them: the
// history view's text and selection, the menu list and its selection, the
// chat line, and which control has the focus.  Texts are CP1252 bytes,
// offsets byte offsets, as on the UI seam.
//
// Plain state with no lock and no output: the headless front-end keeps one
// on its UI thread and reports each change as an event; the tests' event UI
// keeps one under its own lock, so the tests check the model the front-end
// uses.
#pragma once

#include <algorithm>
#include <string>
#include <vector>

#include "platform/ui.h"

struct ViewModel {
    std::string history;
    int selStart = 0, selEnd = 0;
    std::vector<std::string> list;
    int listSel = -1;  // -1: no row selected
    std::string chat;
    UiControl focus = UiControl::List;

    // Appends to the view; the caret follows the text to its end, as a
    // desktop edit control's does (the core puts a reader's selection back).
    void historyAppend(const std::string& text) {
        history += text;
        selStart = selEnd = static_cast<int>(history.size());
    }
    // Removes the first `bytes` bytes; the selection moves back with the
    // text, an end inside the removed part to the start.  Returns how many
    // were removed.
    size_t historyTrimFront(size_t bytes) {
        bytes = std::min(bytes, history.size());
        history.erase(0, bytes);
        auto shift = [&](int& at) { at = at < static_cast<int>(bytes) ? 0 : at - static_cast<int>(bytes); };
        shift(selStart);
        shift(selEnd);
        return bytes;
    }
    void listReset() {
        list.clear();
        listSel = -1;
    }
    void listAdd(const std::string& label) { list.push_back(label); }
    // False, with nothing changed, when `index` is no row.  The selection
    // stays on a row.
    bool listDelete(int index) {
        if (!isRow(index)) return false;
        list.erase(list.begin() + index);
        if (listSel >= static_cast<int>(list.size())) listSel = static_cast<int>(list.size()) - 1;
        return true;
    }
    // False, with nothing changed, when `index` is no row.
    bool listSetItem(int index, const std::string& label) {
        if (!isRow(index)) return false;
        list[static_cast<size_t>(index)] = label;
        return true;
    }
    // Selects row `index`; anything that is no row clears the selection.
    // Returns the selection.
    int listSelect(int index) {
        listSel = isRow(index) ? index : -1;
        return listSel;
    }
    bool isRow(int index) const { return index >= 0 && index < static_cast<int>(list.size()); }
};
