#include "platform/native_file_dialog.h"

#include <gtk/gtk.h>

#include <cctype>

namespace platform {

namespace {

// GTK is set up once per process; without a display it stays unusable and every dialog
// reports failure.
bool gtkAvailable() {
    static const bool ok = [] {
        // GTK would otherwise switch the whole process to the user's locale, and every
        // number the program prints or parses afterwards could take a decimal comma.
        gtk_disable_setlocale();
        return gtk_init_check(nullptr, nullptr) != FALSE;
    }();
    return ok;
}

void addFilters(GtkFileChooser* chooser, const FileDialogFilter* filters, int count) {
    for (int i = 0; i < count; ++i) {
        GtkFileFilter* filter = gtk_file_filter_new();
        gtk_file_filter_set_name(filter, filters[i].name ? filters[i].name : "");
        for (const std::string& glob : fileDialogGlobs(filters[i].pattern)) {
            gtk_file_filter_add_pattern(filter, glob.c_str());
        }
        gtk_file_chooser_add_filter(chooser, filter);  // the chooser takes the reference
    }
}

// Lets GTK finish the dialog's teardown so its window disappears before the caller draws.
void drainGtkEvents() {
    while (gtk_events_pending()) gtk_main_iteration_do(FALSE);
}

}  // namespace

std::vector<std::string> fileDialogGlobs(const char* pattern) {
    std::vector<std::string> globs;
    if (!pattern) return globs;
    std::string part;
    auto finish = [&] {
        const std::size_t first = part.find_first_not_of(" \t");
        part = first == std::string::npos
                   ? std::string()
                   : part.substr(first, part.find_last_not_of(" \t") + 1 - first);
        if (part == "*.*") part = "*";
        if (!part.empty()) {
            std::string glob;
            for (char c : part) {
                const unsigned char u = static_cast<unsigned char>(c);
                if (std::isalpha(u)) {
                    glob += '[';
                    glob += static_cast<char>(std::tolower(u));
                    glob += static_cast<char>(std::toupper(u));
                    glob += ']';
                } else {
                    glob += c;
                }
            }
            globs.push_back(std::move(glob));
        }
        part.clear();
    };
    for (const char* p = pattern; *p; ++p) {
        if (*p == ';') {
            finish();
        } else {
            part += *p;
        }
    }
    finish();
    return globs;
}

bool showNativeFileDialog(std::string& path, bool pickFolder, const char* title,
                          const FileDialogFilter* filters, int count) {
    path.clear();
    if (!gtkAvailable()) return false;
    GtkFileChooserNative* dialog = gtk_file_chooser_native_new(
        title, nullptr,
        pickFolder ? GTK_FILE_CHOOSER_ACTION_SELECT_FOLDER : GTK_FILE_CHOOSER_ACTION_OPEN,
        pickFolder ? "_Select" : "_Open", "_Cancel");
    if (!dialog) return false;
    GtkFileChooser* chooser = GTK_FILE_CHOOSER(dialog);
    gtk_file_chooser_set_local_only(chooser, TRUE);
    gtk_file_chooser_set_select_multiple(chooser, FALSE);
    if (!pickFolder && filters && count > 0) addFilters(chooser, filters, count);

    if (gtk_native_dialog_run(GTK_NATIVE_DIALOG(dialog)) == GTK_RESPONSE_ACCEPT) {
        // The file system's own bytes, which open() takes (UTF-8 on any current system).
        if (gchar* name = gtk_file_chooser_get_filename(chooser)) {
            path = name;
            g_free(name);
        }
    }
    gtk_native_dialog_destroy(GTK_NATIVE_DIALOG(dialog));
    g_object_unref(dialog);
    drainGtkEvents();
    return !path.empty();
}

}  // namespace platform
