// GTK 3, loaded at run time for the two dialogs of the program: the file-open dialog and the
// message dialog of a failure. Linking the toolkit would cost every start (and every scripted
// --info run) tens of ms; most runs never show either dialog.
#pragma once

#define G_DISABLE_CAST_CHECKS
#include <gtk/gtk.h>

// The toolkit's functions the dialogs call.
struct Gtk {
  decltype(&gtk_disable_setlocale) disable_setlocale;
  decltype(&gtk_init_check) init_check;
  decltype(&gtk_window_set_default_size) set_default_size;
  decltype(&gtk_window_set_title) set_title;
  decltype(&gtk_window_set_icon_name) set_icon_name;
  decltype(&gtk_file_chooser_dialog_new) file_dialog_new;
  decltype(&gtk_file_chooser_set_current_folder) set_current_folder;
  decltype(&gtk_file_filter_new) filter_new;
  decltype(&gtk_file_filter_set_name) filter_set_name;
  decltype(&gtk_file_filter_add_pattern) filter_add_pattern;
  decltype(&gtk_file_chooser_add_filter) add_filter;
  decltype(&gtk_file_chooser_set_filter) set_filter;
  decltype(&gtk_file_chooser_get_filename) get_filename;
  decltype(&gtk_message_dialog_new) message_dialog_new;
  decltype(&gtk_message_dialog_get_message_area) message_area;
  decltype(&gtk_message_dialog_format_secondary_text) secondary_text;
  decltype(&gtk_widget_get_parent) widget_parent;
  decltype(&gtk_box_pack_start) box_pack_start;
  decltype(&gtk_box_reorder_child) box_reorder_child;
  decltype(&gtk_widget_set_valign) set_valign;
  decltype(&gtk_image_new_from_icon_name) image_from_icon;
  decltype(&gtk_widget_show) widget_show;
  decltype(&gtk_container_get_children) container_children;
  decltype(&gtk_label_get_type) label_type;
  decltype(&gtk_label_set_selectable) label_set_selectable;
  decltype(&gtk_dialog_set_default_response) set_default_response;
  decltype(&gtk_dialog_run) dialog_run;
  decltype(&gtk_widget_destroy) widget_destroy;
  decltype(&gtk_events_pending) events_pending;
  decltype(&gtk_main_iteration) main_iteration;
  decltype(&g_set_prgname) set_prgname;
  decltype(&g_utf8_make_valid) utf8_make_valid;
  decltype(&g_type_check_instance_is_a) instance_is_a;
  decltype(&g_list_free) list_free;
  decltype(&g_object_ref) object_ref;
  decltype(&g_object_unref) object_unref;
  decltype(&g_free) free;
};

enum class GtkState { kMissing, kNoDisplay, kReady };

// Loads libgtk-3 and opens the display, once; the later calls give the first answer. `gtk` is
// filled when the toolkit is ready.
GtkState StartGtk(const Gtk *&gtk);
