// The file-open dialog on Linux: a GTK 3 file chooser, the toolkit loaded when it opens.
#include "viewer/shell/fileDialog.h"

#include "base/fatal.h"
#include "base/files.h"
#include "viewer/readers/formatTable.h"
#include "viewer/shell/formatLoaders.h"
#include "viewer/shell/gtkLoader.h"
#include "viewer/shell/shell.h"

#include <algorithm>
#include <vector>

// "All Files" lists every file, with or without a dot in its name. "All objects" lists every name
// the viewer can show: a format's extension anywhere in the name, as the command line tests it,
// so compressed objects and the formats without an entry of their own (VRML) are listed too.
std::vector<FileFilter> DialogFilters() {
  std::vector<DialogFilter> ranked;
  for (const FormatRow &row : Formats())
    if (row.filter.rank > 0) ranked.push_back(row.filter);
  std::sort(ranked.begin(), ranked.end(),
            [](const DialogFilter &a, const DialogFilter &b) { return a.rank < b.rank; });
  std::vector<FileFilter> filters;
  FileFilter objects{"All objects", {}};
  for (const FormatRow &row : Formats())
    if (CanShow(row)) objects.patterns.push_back(std::string("*") + row.extension + "*");
  filters.push_back(objects);
  for (const DialogFilter &f : ranked) {
    // A format of two extensions lists both patterns, separated by a blank.
    FileFilter filter{f.name, {}};
    std::string all = f.pattern;
    for (std::size_t at = 0, end; at < all.size(); at = end + 1) {
      end = std::min(all.find(' ', at), all.size());
      if (end > at) filter.patterns.push_back(all.substr(at, end - at));
    }
    filters.push_back(filter);
  }
  filters.push_back(FileFilter{"All Files (*.*)", {"*"}});
  return filters;
}

std::string ChooseObjectFile() {
  const Gtk *g = nullptr;
  switch (StartGtk(g)) {
  case GtkState::kMissing:
    fatal(1, "Cannot show the file dialog (libgtk-3 is missing): name the object with -in\n");
  case GtkState::kNoDisplay:
    fatal(1, "No display to show the file dialog on: name the object with -in\n");
  case GtkState::kReady:
    break;
  }
  const Gtk &gtk = *g;

  GtkWidget *dialog =
      gtk.file_dialog_new("Select file to View", nullptr, GTK_FILE_CHOOSER_ACTION_OPEN, "_Cancel",
                          GTK_RESPONSE_CANCEL, "_Open", GTK_RESPONSE_ACCEPT, nullptr);
  gtk.set_default_size(GTK_WINDOW(dialog), 720, 480);
  GtkFileChooser *chooser = GTK_FILE_CHOOSER(dialog);
  std::string start = GetObjPath();
  if (!start.empty()) gtk.set_current_folder(chooser, start.c_str());
  GtkFileFilter *first = nullptr;
  for (const FileFilter &row : DialogFilters()) {
    GtkFileFilter *filter = gtk.filter_new();
    gtk.filter_set_name(filter, row.name.c_str());
    for (const std::string &pattern : row.patterns) gtk.filter_add_pattern(filter, pattern.c_str());
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
