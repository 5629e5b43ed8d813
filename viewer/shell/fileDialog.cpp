// The file-open dialog on Linux: a GTK 3 file chooser. The toolkit is loaded only when the dialog
// is needed; linking it would cost every start (and every scripted --info run) tens of ms.
#include "viewer/shell/main.h"

#include "base/fatal.h"
#include "viewer/readers/formatTable.h"
#include "viewer/shell/shell.h"

#include <algorithm>
#include <cstdlib>
#include <dlfcn.h>
#include <vector>

#define G_DISABLE_CAST_CHECKS
#include <gtk/gtk.h>

// "All Files" lists every file, with or without a dot in its name.
std::vector<DialogFilter> DialogFilters() {
  std::vector<DialogFilter> filters;
  for (const FormatRow &row : Formats())
    if (row.filter.rank > 0) filters.push_back(row.filter);
  std::sort(filters.begin(), filters.end(),
            [](const DialogFilter &a, const DialogFilter &b) { return a.rank < b.rank; });
  filters.push_back(DialogFilter{0, "All Files (*.*)", "*"});
  return filters;
}

namespace {

struct Gtk {
  decltype(&gtk_disable_setlocale) disable_setlocale;
  decltype(&gtk_init_check) init_check;
  decltype(&gtk_file_chooser_dialog_new) dialog_new;
  decltype(&gtk_window_set_default_size) set_default_size;
  decltype(&gtk_file_chooser_set_current_folder) set_current_folder;
  decltype(&gtk_file_filter_new) filter_new;
  decltype(&gtk_file_filter_set_name) filter_set_name;
  decltype(&gtk_file_filter_add_pattern) filter_add_pattern;
  decltype(&gtk_file_chooser_add_filter) add_filter;
  decltype(&gtk_file_chooser_set_filter) set_filter;
  decltype(&gtk_dialog_run) dialog_run;
  decltype(&gtk_file_chooser_get_filename) get_filename;
  decltype(&gtk_widget_destroy) widget_destroy;
  decltype(&gtk_events_pending) events_pending;
  decltype(&gtk_main_iteration) main_iteration;
  decltype(&g_free) free;
};

template <class T> void Bind(void *lib, const char *name, T &fn, bool &ok) {
  fn = reinterpret_cast<T>(dlsym(lib, name));
  if (!fn) ok = false;
}

bool LoadGtk(Gtk &g) {
  void *lib = dlopen("libgtk-3.so.0", RTLD_NOW | RTLD_GLOBAL);
  if (!lib) return false;
  bool ok = true;
  Bind(lib, "gtk_disable_setlocale", g.disable_setlocale, ok);
  Bind(lib, "gtk_init_check", g.init_check, ok);
  Bind(lib, "gtk_file_chooser_dialog_new", g.dialog_new, ok);
  Bind(lib, "gtk_window_set_default_size", g.set_default_size, ok);
  Bind(lib, "gtk_file_chooser_set_current_folder", g.set_current_folder, ok);
  Bind(lib, "gtk_file_filter_new", g.filter_new, ok);
  Bind(lib, "gtk_file_filter_set_name", g.filter_set_name, ok);
  Bind(lib, "gtk_file_filter_add_pattern", g.filter_add_pattern, ok);
  Bind(lib, "gtk_file_chooser_add_filter", g.add_filter, ok);
  Bind(lib, "gtk_file_chooser_set_filter", g.set_filter, ok);
  Bind(lib, "gtk_dialog_run", g.dialog_run, ok);
  Bind(lib, "gtk_file_chooser_get_filename", g.get_filename, ok);
  Bind(lib, "gtk_widget_destroy", g.widget_destroy, ok);
  Bind(lib, "gtk_events_pending", g.events_pending, ok);
  Bind(lib, "gtk_main_iteration", g.main_iteration, ok);
  Bind(lib, "g_free", g.free, ok);
  return ok;
}

} // namespace

std::string ChooseObjectFile() {
  Gtk gtk;
  if (!LoadGtk(gtk))
    fatal(1, "Cannot show the file dialog (libgtk-3 is missing): name the object with -in\n");
  // GTK would otherwise switch the C locale and with it how numbers in object files are read.
  gtk.disable_setlocale();
  // Without a session bus the toolkit's settings store cannot save and warns at every change.
  if (!std::getenv("DBUS_SESSION_BUS_ADDRESS")) setenv("GSETTINGS_BACKEND", "memory", 0);
  if (!gtk.init_check(nullptr, nullptr))
    fatal(1, "No display to show the file dialog on: name the object with -in\n");

  GtkWidget *dialog =
      gtk.dialog_new("Select file to View", nullptr, GTK_FILE_CHOOSER_ACTION_OPEN, "_Cancel",
                     GTK_RESPONSE_CANCEL, "_Open", GTK_RESPONSE_ACCEPT, nullptr);
  gtk.set_default_size(GTK_WINDOW(dialog), 720, 480);
  GtkFileChooser *chooser = GTK_FILE_CHOOSER(dialog);
  std::string start = GetObjPath();
  if (!start.empty()) gtk.set_current_folder(chooser, start.c_str());
  GtkFileFilter *first = nullptr;
  for (const DialogFilter &row : DialogFilters()) {
    GtkFileFilter *filter = gtk.filter_new();
    gtk.filter_set_name(filter, row.name);
    gtk.filter_add_pattern(filter, row.pattern);
    gtk.add_filter(chooser, filter);
    if (!first) first = filter;
  }
  gtk.set_filter(chooser, first);

  std::string chosen;
  if (gtk.dialog_run(GTK_DIALOG(dialog)) == GTK_RESPONSE_ACCEPT) {
    if (gchar *name = gtk.get_filename(chooser)) {
      chosen = name;
      gtk.free(name);
    }
  }
  gtk.widget_destroy(dialog);
  while (gtk.events_pending()) gtk.main_iteration();

  // A typed name without its extension means the ".geom" object of that name.
  if (!chosen.empty() && !ObjectFileExists(chosen) && ObjectFileExists(chosen + ".geom"))
    chosen += ".geom";
  return chosen;
}
