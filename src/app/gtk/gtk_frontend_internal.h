// What the files of the desktop front-end share: the signal trampolines
// into GtkFrontEnd's private members and the small widget helpers.  UI
// thread only, as GtkFrontEnd itself.
#pragma once

#include <gtk/gtk.h>

#include <string>

#include "app/gtk/gtk_frontend.h"
#include "app/keyboard.h"
#include "platform/text.h"

// "&Chat: " (Win32 access key) to "_Chat: " (GTK mnemonic), CP1252 in,
// UTF-8 out.  "&&" is a plain "&"; a plain "_" is doubled.
inline std::string mnemonicLabel(const std::string& cp1252) {
    std::string out;
    for (size_t i = 0; i < cp1252.size(); ++i) {
        char ch = cp1252[i];
        if (ch == '&') {
            if (i + 1 < cp1252.size() && cp1252[i + 1] == '&') {
                out += '&';
                ++i;
            } else {
                out += '_';
            }
        } else if (ch == '_') {
            out += "__";
        } else {
            out += ch;
        }
    }
    return cp1252ToUtf8(out);
}

inline void setAccessibleName(GtkWidget* w, const std::string& utf8) {
    atk_object_set_name(gtk_widget_get_accessible(w), utf8.c_str());
}

// Signal trampolines with access to the private members.
struct GtkFrontEndSignals {
    static gboolean keyPress(GtkWidget*, GdkEventKey* ev, gpointer self) {
        return static_cast<GtkFrontEnd*>(self)->onKey(ev, true);
    }
    static gboolean keyRelease(GtkWidget*, GdkEventKey* ev, gpointer self) {
        return static_cast<GtkFrontEnd*>(self)->onKey(ev, false);
    }
    static void rowSelected(GtkListBox*, GtkListBoxRow* row, gpointer self) {
        static_cast<GtkFrontEnd*>(self)->onRowSelected(row);
    }
    static gboolean listButton(GtkWidget*, GdkEventButton* ev, gpointer self) {
        return static_cast<GtkFrontEnd*>(self)->onListButton(ev);
    }
    static void destroy(GtkWidget*, gpointer self) { static_cast<GtkFrontEnd*>(self)->onDestroy(); }
    static void allocate(GtkWidget*, GdkRectangle* a, gpointer self) {
        static_cast<GtkFrontEnd*>(self)->onAllocate(a->width, a->height);
    }
    static gboolean focusIn(GtkWidget*, GdkEventFocus*, gpointer self) {
        // The main window got the focus: the focus goes back to the list.
        static_cast<GtkFrontEnd*>(self)->setFocus(UiControl::List);
        return FALSE;
    }
    static gboolean focusOut(GtkWidget*, GdkEventFocus*, gpointer) {
        mainWindowLostFocus();
        return FALSE;
    }
    static void activeChanged(GObject* w, GParamSpec*, gpointer self) {
        static_cast<GtkFrontEnd*>(self)->active_ = gtk_window_is_active(GTK_WINDOW(w));
    }
    static gboolean terminationSignal(gpointer self) {
        static_cast<GtkFrontEnd*>(self)->onTerminationSignal();
        return G_SOURCE_REMOVE;
    }
    static gboolean layoutIdle(gpointer self) {
        GtkFrontEnd* fe = static_cast<GtkFrontEnd*>(self);
        fe->layoutPending_ = false;
        if (fe->area_) fe->layout(fe->layoutW_, fe->layoutH_);
        return G_SOURCE_REMOVE;
    }
    static gboolean scrollIdle(gpointer self) {
        GtkFrontEnd* fe = static_cast<GtkFrontEnd*>(self);
        fe->scrollPending_ = false;
        fe->placeCaretAtEnd();
        if (fe->history_) {
            GtkTextBuffer* b = gtk_text_view_get_buffer(GTK_TEXT_VIEW(fe->history_));
            gtk_text_view_scroll_mark_onscreen(GTK_TEXT_VIEW(fe->history_), gtk_text_buffer_get_insert(b));
        }
        return G_SOURCE_REMOVE;
    }
};
