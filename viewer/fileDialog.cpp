// The file-open dialog on Linux: a GTK 3 file chooser.
#include "main.h"

#include "fatal.h"
#include "shell.h"

#include <cstdlib>
#include <gtk/gtk.h>

namespace {

struct FilterRow {
  const char *description;
  const char *pattern;
};

// The patterns end in "*" so that compressed variants are listed too. "All Files" lists every
// file, with or without a dot in its name.
const FilterRow kFilters[] = {
    {"Geom Files (*.geom)", "*.geom*"},
    {"Movie Files (*.byu)", "*.byu*"},
    {"Geomview Files (*.off)", "*.off*"},
    {"Lithography Files (*.stl)", "*.stl*"},
    {"Tria Poly Files (*.tpoly)", "*.tpoly*"},
    {"Stanford Files (*.ply)", "*.ply*"},
    {"Viewperf Files (*.coor)", "*.coo*"},
    {"3D Studio Files (*.3ds)", "*.3ds*"},
    {"All Files (*.*)", "*"},
};

void DrainEvents() {
  while (gtk_events_pending()) gtk_main_iteration();
}

} // namespace

std::string ChooseObjectFile() {
  // GTK would otherwise switch the C locale and with it how numbers in object files are read.
  gtk_disable_setlocale();
  // Without a session bus the toolkit's settings store cannot save and warns at every change.
  if (!std::getenv("DBUS_SESSION_BUS_ADDRESS")) setenv("GSETTINGS_BACKEND", "memory", 0);
  if (!gtk_init_check(nullptr, nullptr))
    fatal(1, "No display to show the file dialog on: name the object with -in\n");

  GtkWidget *dialog = gtk_file_chooser_dialog_new(
      "Select file to View", nullptr, GTK_FILE_CHOOSER_ACTION_OPEN, "_Cancel", GTK_RESPONSE_CANCEL,
      "_Open", GTK_RESPONSE_ACCEPT, nullptr);
  gtk_window_set_default_size(GTK_WINDOW(dialog), 720, 480);
  GtkFileChooser *chooser = GTK_FILE_CHOOSER(dialog);
  std::string start = GetObjPath();
  if (!start.empty()) gtk_file_chooser_set_current_folder(chooser, start.c_str());
  GtkFileFilter *first = nullptr;
  for (const FilterRow &row : kFilters) {
    GtkFileFilter *filter = gtk_file_filter_new();
    gtk_file_filter_set_name(filter, row.description);
    gtk_file_filter_add_pattern(filter, row.pattern);
    gtk_file_chooser_add_filter(chooser, filter);
    if (!first) first = filter;
  }
  gtk_file_chooser_set_filter(chooser, first);

  std::string chosen;
  if (gtk_dialog_run(GTK_DIALOG(dialog)) == GTK_RESPONSE_ACCEPT) {
    if (gchar *name = gtk_file_chooser_get_filename(chooser)) {
      chosen = name;
      g_free(name);
    }
  }
  gtk_widget_destroy(dialog);
  DrainEvents();

  // A typed name without its extension means the ".geom" object of that name.
  if (!chosen.empty() && !ObjectFileExists(chosen) && ObjectFileExists(chosen + ".geom"))
    chosen += ".geom";
  return chosen;
}
