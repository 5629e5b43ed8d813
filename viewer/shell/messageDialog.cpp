// The message dialog of a failure, for a run started from the desktop, where nobody reads
// standard error. The toolkit is loaded when it opens, as for the file dialog.
#include "viewer/shell/main.h"

#include "viewer/shell/gtkLoader.h"

void ShowMessageDialog(const std::string &message) {
  const Gtk *g = nullptr;
  if (StartGtk(g) != GtkState::kReady) return;
  const Gtk &gtk = *g;
  // The text as written to standard error, without the blank lines around it. A file name need
  // not be UTF-8, which the toolkit requires: other bytes show as replacement characters.
  std::size_t first = message.find_first_not_of('\n');
  std::size_t last = message.find_last_not_of('\n');
  std::string text = first == std::string::npos ? "" : message.substr(first, last - first + 1);
  gchar *shown = gtk.utf8_make_valid(text.c_str(), static_cast<gssize>(text.size()));
  // The text is an argument, never the format: a name may hold "%".
  GtkWidget *dialog = gtk.message_dialog_new(nullptr, GTK_DIALOG_MODAL, GTK_MESSAGE_ERROR,
                                             GTK_BUTTONS_CLOSE, "%s", shown);
  gtk.free(shown);
  gtk.set_title(GTK_WINDOW(dialog), "Mirandel");
  gtk.set_icon_name(GTK_WINDOW(dialog), "mirandel");
  // The text can be selected and copied, into a report or a search. Return closes the dialog.
  GList *children =
      gtk.container_children(GTK_CONTAINER(gtk.message_area(GTK_MESSAGE_DIALOG(dialog))));
  for (GList *c = children; c; c = c->next)
    if (gtk.instance_is_a(static_cast<GTypeInstance *>(c->data), gtk.label_type()))
      gtk.label_set_selectable(static_cast<GtkLabel *>(c->data), TRUE);
  gtk.list_free(children);
  gtk.set_default_response(GTK_DIALOG(dialog), GTK_RESPONSE_CLOSE);
  // Closing the window destroys the dialog inside the run; the reference keeps it ours to end.
  gtk.object_ref(dialog);
  gtk.dialog_run(GTK_DIALOG(dialog));
  gtk.widget_destroy(dialog);
  gtk.object_unref(dialog);
  while (gtk.events_pending()) gtk.main_iteration();
}
