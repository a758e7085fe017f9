#include "app/gtk/gio_shell.h"

#include <gio/gio.h>

#include "platform/text.h"

bool GioShell::openAddress(const std::string& address) {
    // The "open" action takes web addresses and file names alike (the update
    // opens a downloaded file that is not a program).  GIO wants a URI: a
    // name with no scheme is a file name, in the file system's own bytes and
    // relative to the current folder, made a file:// URI.
    std::string uri = cp1252ToUtf8(address);
    if (gchar* scheme = g_uri_parse_scheme(uri.c_str())) {
        g_free(scheme);
    } else {
        GFile* file = g_file_new_for_path(address.c_str());
        gchar* fileUri = g_file_get_uri(file);
        uri = fileUri;
        g_free(fileUri);
        g_object_unref(file);
    }
    GError* err = nullptr;
    gboolean ok = g_app_info_launch_default_for_uri(uri.c_str(), nullptr, &err);
    if (err) g_error_free(err);
    return ok;
}

bool GioShell::executeFile(const std::string& path) {
    // The downloaded installer: a file name in the file system's bytes.
    gchar* argv[] = {const_cast<gchar*>(path.c_str()), nullptr};
    GError* err = nullptr;
    gboolean ok =
        g_spawn_async(nullptr, argv, nullptr, G_SPAWN_DEFAULT, nullptr, nullptr, nullptr, &err);
    if (err) g_error_free(err);
    return ok;
}
