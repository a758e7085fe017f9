#include <algorithm>
#include <climits>

#include "app/commands.h"
#include "app/gtk/gtk_frontend_internal.h"

namespace {
bool hasFocusWithin(GtkWidget* w) {
    GtkWidget* top = gtk_widget_get_toplevel(w);
    if (!GTK_IS_WINDOW(top)) return false;
    GtkWidget* f = gtk_window_get_focus(GTK_WINDOW(top));
    return f && (f == w || gtk_widget_is_ancestor(f, w));
}
}  // namespace

// ---------------------------------------------------------------------------
// History view.

namespace {
// A GtkTextBuffer refuses a whole insert that holds a NUL, so a message with
// one would never be shown: each NUL is shown as a blank (one byte for one,
// so byte offsets into the history stay those of the CP1252 text).
std::string historyUtf8(const std::string& text) {
    std::string u = cp1252ToUtf8(text);
    std::replace(u.begin(), u.end(), '\0', ' ');
    return u;
}
}  // namespace

void GtkFrontEnd::historyAppend(const std::string& text) {
    if (!history_) return;
    GtkTextBuffer* b = gtk_text_view_get_buffer(GTK_TEXT_VIEW(history_));
    GtkTextIter end;
    gtk_text_buffer_get_end_iter(b, &end);
    std::string u = historyUtf8(text);
    gtk_text_buffer_insert(b, &end, u.data(), static_cast<int>(u.size()));
    // As an edit control's replace-selection at the end, the caret follows
    // the text.  Moving GTK's insert mark lays the caret's line out at once,
    // which costs more than the insert itself in a flood of messages: the
    // move is only recorded here and made when the caret is next looked at,
    // set, scrolled to or given the focus.
    caretAtEnd_ = true;
}

void GtkFrontEnd::placeCaretAtEnd() {
    if (!caretAtEnd_ || !history_) return;
    caretAtEnd_ = false;
    GtkTextBuffer* b = gtk_text_view_get_buffer(GTK_TEXT_VIEW(history_));
    GtkTextIter end;
    gtk_text_buffer_get_end_iter(b, &end);
    gtk_text_buffer_place_cursor(b, &end);
}

void GtkFrontEnd::historySetText(const std::string& text) {
    if (!history_) return;
    std::string u = historyUtf8(text);
    caretAtEnd_ = false;
    gtk_text_buffer_set_text(gtk_text_view_get_buffer(GTK_TEXT_VIEW(history_)), u.data(),
                             static_cast<int>(u.size()));
}

std::string GtkFrontEnd::historyText() {
    if (!history_) return {};
    GtkTextBuffer* b = gtk_text_view_get_buffer(GTK_TEXT_VIEW(history_));
    GtkTextIter s, e;
    gtk_text_buffer_get_bounds(b, &s, &e);
    gchar* t = gtk_text_buffer_get_text(b, &s, &e, TRUE);
    std::string out = utf8ToCp1252(t);
    g_free(t);
    return out;
}

void GtkFrontEnd::historyGetSelection(int* start, int* end) {
    *start = *end = 0;
    if (!history_) return;
    GtkTextBuffer* b = gtk_text_view_get_buffer(GTK_TEXT_VIEW(history_));
    if (caretAtEnd_) {
        *start = *end = gtk_text_buffer_get_char_count(b);
        return;
    }
    GtkTextIter s, e;
    gtk_text_buffer_get_selection_bounds(b, &s, &e);
    *start = gtk_text_iter_get_offset(&s);
    *end = gtk_text_iter_get_offset(&e);
}

void GtkFrontEnd::historySetSelection(int start, int end) {
    if (!history_) return;
    caretAtEnd_ = false;
    GtkTextBuffer* b = gtk_text_view_get_buffer(GTK_TEXT_VIEW(history_));
    GtkTextIter s, e;
    gtk_text_buffer_get_iter_at_offset(b, &s, start);
    gtk_text_buffer_get_iter_at_offset(b, &e, end);
    // The insert mark (caret) is the start, as an edit control's selection.
    gtk_text_buffer_select_range(b, &s, &e);
}

void GtkFrontEnd::historyTrimFront(size_t bytes) {
    if (!history_ || bytes == 0) return;
    GtkTextBuffer* b = gtk_text_view_get_buffer(GTK_TEXT_VIEW(history_));
    GtkTextIter s, e;
    gtk_text_buffer_get_start_iter(b, &s);
    gtk_text_buffer_get_iter_at_offset(b, &e, static_cast<int>(std::min<size_t>(bytes, INT_MAX)));
    // The caret and selection are marks: they keep their place in the text
    // that stays (one inside the removed text goes to the start), as does
    // the caret recorded at the end.
    gtk_text_buffer_delete(b, &s, &e);
}

void GtkFrontEnd::historyScrollToCaret() {
    if (history_) scrollHistoryLater();
}

// Scrolling lays the text out up to the caret; one scroll per burst of
// messages, once the loop is idle, keeps a flood of lines cheap.
void GtkFrontEnd::scrollHistoryLater() {
    if (scrollPending_) return;
    scrollPending_ = true;
    g_idle_add_full(G_PRIORITY_LOW, GtkFrontEndSignals::scrollIdle, this, nullptr);
}

// ---------------------------------------------------------------------------
// Menu list.

int GtkFrontEnd::rowIndex(GtkListBoxRow* row) const {
    return row ? gtk_list_box_row_get_index(row) : -1;
}

void GtkFrontEnd::listReset() {
    if (!list_) return;
    const bool focused = hasFocusWithin(list_);
    ++clientSelecting_;
    // The focus must not die with a row: it stays on the list itself.
    if (focused) gtk_widget_grab_focus(list_);
    for (GtkWidget* r : rows_) gtk_widget_destroy(r);
    rows_.clear();
    --clientSelecting_;
}

namespace {
// A row showing `label` (CP1252), named for the screen reader.
GtkWidget* newRow(const std::string& label) {
    std::string u = cp1252ToUtf8(label);
    GtkWidget* text = gtk_label_new(u.c_str());
    gtk_label_set_xalign(GTK_LABEL(text), 0);
    gtk_widget_set_margin_start(text, 4);
    gtk_widget_set_margin_end(text, 4);
    GtkWidget* row = gtk_list_box_row_new();
    gtk_container_add(GTK_CONTAINER(row), text);
    // A row has no name of its own; a screen reader reads this one.
    setAccessibleName(row, u);
    return row;
}

// Tells the accessibility bus that `row` is selected or no longer is.
void notifySelected(GtkWidget* row, bool selected) {
    if (row) atk_object_notify_state_change(gtk_widget_get_accessible(row), ATK_STATE_SELECTED, selected);
}
}  // namespace

void GtkFrontEnd::listAdd(const std::string& label) {
    if (!list_) return;
    GtkWidget* row = newRow(label);
    ++clientSelecting_;
    gtk_list_box_insert(GTK_LIST_BOX(list_), row, -1);
    --clientSelecting_;
    gtk_widget_show_all(row);
    rows_.push_back(row);
}

void GtkFrontEnd::listDelete(int index) {
    if (!list_ || index < 0 || index >= static_cast<int>(rows_.size())) return;
    GtkWidget* row = rows_[static_cast<size_t>(index)];
    ++clientSelecting_;
    if (hasFocusWithin(row)) gtk_widget_grab_focus(list_);
    gtk_widget_destroy(row);
    --clientSelecting_;
    rows_.erase(rows_.begin() + index);
}

// The changed row is replaced by a new one rather than relabelled: a screen
// reader says nothing of a list item's new name (Orca drops those events
// as the noise of web pages), but it reads a newly focused row as it reads
// a move.  The new row takes the old one's selection and focus, the focus
// moving from the old row straight to the new one, as a move does.
void GtkFrontEnd::listSetItem(int index, const std::string& label) {
    if (!list_ || index < 0 || index >= static_cast<int>(rows_.size())) return;
    GtkWidget* old = rows_[static_cast<size_t>(index)];
    const bool selected = gtk_list_box_row_is_selected(GTK_LIST_BOX_ROW(old));
    const bool focused = hasFocusWithin(old);
    GtkWidget* row = newRow(label);
    ++clientSelecting_;
    gtk_list_box_insert(GTK_LIST_BOX(list_), row, index);
    gtk_widget_show_all(row);
    rows_[static_cast<size_t>(index)] = row;
    if (selected) gtk_list_box_select_row(GTK_LIST_BOX(list_), GTK_LIST_BOX_ROW(row));
    if (focused) gtk_widget_grab_focus(row);
    gtk_widget_destroy(old);
    --clientSelecting_;
}

int GtkFrontEnd::listCount() { return static_cast<int>(rows_.size()); }

void GtkFrontEnd::listSelect(int index) {
    if (!list_) return;
    ++clientSelecting_;
    if (index < 0 || index >= static_cast<int>(rows_.size())) {
        gtk_list_box_unselect_all(GTK_LIST_BOX(list_));
    } else {
        GtkWidget* row = rows_[static_cast<size_t>(index)];
        gtk_list_box_select_row(GTK_LIST_BOX(list_), GTK_LIST_BOX_ROW(row));
        // With the list focused, the focus follows the selection so that the
        // screen reader announces the row.
        if (hasFocusWithin(list_)) gtk_widget_grab_focus(row);
    }
    --clientSelecting_;
}

int GtkFrontEnd::listSelection() {
    if (!list_) return -1;
    return rowIndex(gtk_list_box_get_selected_row(GTK_LIST_BOX(list_)));
}

void GtkFrontEnd::onRowSelected(GtkListBoxRow* row) {
    // GTK announces a change of the list's selection but not the rows' own
    // selected states, so a screen reader that keeps the states it has seen
    // (Orca does) would read a row moved to as "not selected".  A row that
    // is being removed is told as well; its accessible is still there.
    GtkWidget* now = row ? GTK_WIDGET(row) : nullptr;
    if (now != selectedRow_) {
        notifySelected(selectedRow_, false);
        notifySelected(now, true);
        selectedRow_ = now;
    }
    // Only the player's own changes (arrows handled by the list itself)
    // run the selection step.
    if (clientSelecting_ > 0) return;
    selectionStep();
}

gboolean GtkFrontEnd::onListButton(GdkEventButton* ev) {
    if (ev->type != GDK_BUTTON_PRESS) return TRUE;  // double clicks: the press did it
    if (ev->button != 1 && ev->button != 3) return FALSE;
    if (ev->window != gtk_widget_get_window(list_)) return FALSE;
    GtkListBoxRow* row = gtk_list_box_get_row_at_y(GTK_LIST_BOX(list_), static_cast<int>(ev->y));
    if (!row) {
        // Below the rows: no item is clicked, so the next selection change
        // (a type-ahead) is not taken for this press and chooses nothing.
        setFocus(UiControl::List);
        return TRUE;
    }
    listClicked(ev->button == 3 ? ListButton::Right : ListButton::Left);
    ++clientSelecting_;
    gtk_list_box_select_row(GTK_LIST_BOX(list_), row);
    gtk_widget_grab_focus(GTK_WIDGET(row));
    --clientSelecting_;
    // A click is a change of selection even on the selected row, as the
    // list box of the other platform notifies it.
    selectionStep();
    return TRUE;
}

// ---------------------------------------------------------------------------
// Chat line and focus.

std::string GtkFrontEnd::chatText() {
    if (!chat_) return {};
    return utf8ToCp1252(gtk_entry_get_text(GTK_ENTRY(chat_)));
}

void GtkFrontEnd::chatSetText(const std::string& text) {
    if (chat_) gtk_entry_set_text(GTK_ENTRY(chat_), cp1252ToUtf8(text).c_str());
}

void GtkFrontEnd::chatSelectRange(int start, int end) {
    if (chat_) gtk_editable_select_region(GTK_EDITABLE(chat_), start, end);
}

void GtkFrontEnd::setFocus(UiControl control) {
    if (!window_) return;
    switch (control) {
        case UiControl::History:
            placeCaretAtEnd();
            gtk_widget_grab_focus(history_);
            break;
        case UiControl::Chat: gtk_widget_grab_focus(chat_); break;
        case UiControl::List: {
            GtkListBoxRow* row = gtk_list_box_get_selected_row(GTK_LIST_BOX(list_));
            ++clientSelecting_;
            gtk_widget_grab_focus(row ? GTK_WIDGET(row) : list_);
            --clientSelecting_;
            break;
        }
    }
}

UiControl GtkFrontEnd::focusedControl() {
    UiControl c = UiControl::List;
    focusedControlOf(&c);
    return c;
}
