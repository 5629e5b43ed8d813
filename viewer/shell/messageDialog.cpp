// The message dialog of a failure, for a run started from the desktop, where nobody reads
// standard error. The toolkit is loaded when it opens, as for the file dialog.
#include "viewer/shell/main.h"

#include "viewer/model/object.h"
#include "viewer/shell/gtkLoader.h"

std::string FailureHeading(const std::string &object) {
  std::size_t slash = object.rfind('/');
  std::string name = slash == std::string::npos ? object : object.substr(slash + 1);
  return name.empty() ? "Mirandel could not start" : "Mirandel could not open " + name;
}

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
  std::string head = FailureHeading(objName);
  gchar *heading = gtk.utf8_make_valid(head.c_str(), static_cast<gssize>(head.size()));
  // The texts are arguments, never the format: a name may hold "%". The heading says what
  // failed, the message under it says why, as standard error has it.
  GtkWidget *dialog = gtk.message_dialog_new(nullptr, GTK_DIALOG_MODAL, GTK_MESSAGE_ERROR,
                                             GTK_BUTTONS_CLOSE, "%s", heading);
  gtk.secondary_text(GTK_MESSAGE_DIALOG(dialog), "%s", shown);
  gtk.free(heading);
  gtk.free(shown);
  // The toolkit no longer shows the kind's icon by itself: it goes before the texts, in the box
  // that holds them.
  GtkWidget *area = gtk.message_area(GTK_MESSAGE_DIALOG(dialog));
  if (GtkWidget *row = gtk.widget_parent(area)) {
    GtkWidget *icon = gtk.image_from_icon("dialog-error", GTK_ICON_SIZE_DIALOG);
    gtk.set_valign(icon, GTK_ALIGN_START);
    gtk.box_pack_start(GTK_BOX(row), icon, FALSE, FALSE, 0);
    gtk.box_reorder_child(GTK_BOX(row), icon, 0);
    gtk.widget_show(icon);
  }
  gtk.set_title(GTK_WINDOW(dialog), "Mirandel");
  gtk.set_icon_name(GTK_WINDOW(dialog), "mirandel");
  // The message can be selected and copied, into a report or a search (the heading, first, only
  // names the file). Return closes the dialog.
  GList *children = gtk.container_children(GTK_CONTAINER(area));
  for (GList *c = children ? children->next : nullptr; c; c = c->next)
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
