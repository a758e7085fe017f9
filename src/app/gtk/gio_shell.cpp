#include "app/gtk/gio_shell.h"

#include <gio/gio.h>

#include "platform/text.h"

namespace {

// Opens a URI (UTF-8) with the user's default program.
bool launchDefault(const char* uri) {
    GError* err = nullptr;
    gboolean ok = g_app_info_launch_default_for_uri(uri, nullptr, &err);
    if (err) g_error_free(err);
    return ok;
}

// Opens the file `path` (file system bytes; relative to the current folder)
// with the user's default program, through its file:// URI.
bool openFile(const std::string& path) {
    GFile* file = g_file_new_for_path(path.c_str());
    gchar* uri = g_file_get_uri(file);
    bool ok = launchDefault(uri);
    g_free(uri);
    g_object_unref(file);
    return ok;
}

}  // namespace

bool GioShell::openAddress(const std::string& address) {
    // The "open" action takes web addresses and file names alike.  GIO wants
    // a URI: a name with no scheme is a file name, in the file system's own
    // bytes and relative to the current folder.
    std::string uri = cp1252ToUtf8(address);
    if (gchar* scheme = g_uri_parse_scheme(uri.c_str())) {
        g_free(scheme);
        return launchDefault(uri.c_str());
    }
    return openFile(address);
}

bool GioShell::executeFile(const std::string& path) {
    // The downloaded installer: a file name in the file system's bytes.  A
    // download never gets execute bits from the client, so an installer that
    // is not a program (a package, an archive) goes to the desktop's handler.
    if (!g_file_test(path.c_str(), G_FILE_TEST_IS_EXECUTABLE) ||
        g_file_test(path.c_str(), G_FILE_TEST_IS_DIR))
        return openFile(path);
    gchar* argv[] = {const_cast<gchar*>(path.c_str()), nullptr};
    GError* err = nullptr;
    gboolean ok =
        g_spawn_async(nullptr, argv, nullptr, G_SPAWN_DEFAULT, nullptr, nullptr, nullptr, &err);
    if (err) g_error_free(err);
    return ok;
}
