#include "viewer/shell/gtkLoader.h"

#include <cstdlib>
#include <dlfcn.h>

namespace {

template <class T> void Bind(void *lib, const char *name, T &fn, bool &ok) {
  fn = reinterpret_cast<T>(dlsym(lib, name));
  if (!fn) ok = false;
}

// The GLib functions are found through the toolkit, which brings its own GLib.
bool LoadGtk(Gtk &g) {
  void *lib = dlopen("libgtk-3.so.0", RTLD_NOW | RTLD_GLOBAL);
  if (!lib) return false;
  bool ok = true;
  Bind(lib, "gtk_disable_setlocale", g.disable_setlocale, ok);
  Bind(lib, "gtk_init_check", g.init_check, ok);
  Bind(lib, "gtk_window_set_default_size", g.set_default_size, ok);
  Bind(lib, "gtk_window_set_title", g.set_title, ok);
  Bind(lib, "gtk_window_set_icon_name", g.set_icon_name, ok);
  Bind(lib, "gtk_file_chooser_dialog_new", g.file_dialog_new, ok);
  Bind(lib, "gtk_file_chooser_set_current_folder", g.set_current_folder, ok);
  Bind(lib, "gtk_file_filter_new", g.filter_new, ok);
  Bind(lib, "gtk_file_filter_set_name", g.filter_set_name, ok);
  Bind(lib, "gtk_file_filter_add_pattern", g.filter_add_pattern, ok);
  Bind(lib, "gtk_file_chooser_add_filter", g.add_filter, ok);
  Bind(lib, "gtk_file_chooser_set_filter", g.set_filter, ok);
  Bind(lib, "gtk_file_chooser_get_filename", g.get_filename, ok);
  Bind(lib, "gtk_message_dialog_new", g.message_dialog_new, ok);
  Bind(lib, "gtk_message_dialog_get_message_area", g.message_area, ok);
  Bind(lib, "gtk_message_dialog_format_secondary_text", g.secondary_text, ok);
  Bind(lib, "gtk_widget_get_parent", g.widget_parent, ok);
  Bind(lib, "gtk_box_pack_start", g.box_pack_start, ok);
  Bind(lib, "gtk_box_reorder_child", g.box_reorder_child, ok);
  Bind(lib, "gtk_widget_set_valign", g.set_valign, ok);
  Bind(lib, "gtk_image_new_from_icon_name", g.image_from_icon, ok);
  Bind(lib, "gtk_widget_show", g.widget_show, ok);
  Bind(lib, "gtk_container_get_children", g.container_children, ok);
  Bind(lib, "gtk_label_get_type", g.label_type, ok);
  Bind(lib, "gtk_label_set_selectable", g.label_set_selectable, ok);
  Bind(lib, "gtk_dialog_set_default_response", g.set_default_response, ok);
  Bind(lib, "gtk_dialog_run", g.dialog_run, ok);
  Bind(lib, "gtk_widget_destroy", g.widget_destroy, ok);
  Bind(lib, "gtk_events_pending", g.events_pending, ok);
  Bind(lib, "gtk_main_iteration", g.main_iteration, ok);
  Bind(lib, "g_set_prgname", g.set_prgname, ok);
  Bind(lib, "g_utf8_make_valid", g.utf8_make_valid, ok);
  Bind(lib, "g_type_check_instance_is_a", g.instance_is_a, ok);
  Bind(lib, "g_list_free", g.list_free, ok);
  Bind(lib, "g_object_ref", g.object_ref, ok);
  Bind(lib, "g_object_unref", g.object_unref, ok);
  Bind(lib, "g_free", g.free, ok);
  return ok;
}

GtkState Start(Gtk &g) {
  if (!LoadGtk(g)) return GtkState::kMissing;
  // GTK would otherwise switch the C locale and with it how numbers in object files are read.
  g.disable_setlocale();
  // Without a session bus the toolkit's settings store cannot save and warns at every change.
  if (!std::getenv("DBUS_SESSION_BUS_ADDRESS")) setenv("GSETTINGS_BACKEND", "memory", 0);
  // The dialogs' windows get the class "mirandel"/"Mirandel", as the viewer's window does, so a
  // dock shows them under the program's own icon.
  g.set_prgname("mirandel");
  if (!g.init_check(nullptr, nullptr)) return GtkState::kNoDisplay;
  return GtkState::kReady;
}

} // namespace

GtkState StartGtk(const Gtk *&gtk) {
  static Gtk g;
  static GtkState state = Start(g);
  gtk = state == GtkState::kReady ? &g : nullptr;
  return state;
}
