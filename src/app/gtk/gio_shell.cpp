#include "app/gtk/gio_shell.h"

#include <gio/gio.h>

#include "platform/text.h"

bool GioShell::openAddress(const std::string& address) {
    std::string uri = cp1252ToUtf8(address);
    GError* err = nullptr;
    gboolean ok = g_app_info_launch_default_for_uri(uri.c_str(), nullptr, &err);
    if (err) g_error_free(err);
    return ok;
}

bool GioShell::executeFile(const std::string& path) {
    // The downloaded installer: a file name in the file system's bytes.
    gchar* argv[] = {const_cast<gchar*>(path.c_str()), nullptr};
    GError* err = nullptr;
    gboolean ok = g_spawn_async(nullptr, argv, nullptr, G_SPAWN_DEFAULT, nullptr, nullptr, nullptr, &err);
    if (err) g_error_free(err);
    return ok;
}
