// The GTK 3 dialog module: each box as a modal GtkMessageDialog.
#include <gtk/gtk.h>

#include <cstring>

#include "desktop/desktop.h"
#include "desktop/gtk/dialog_module.h"

namespace {

// Past this, the text goes in a scrolled view: a label grows without bound
// and takes minutes to lay out a report of 100,000 lines.
constexpr int kMostLabelLines = 15;
constexpr std::size_t kMostLabelBytes = 1500;

struct Kind {
  GtkMessageType type;
  const char* icon;
};

Kind KindOf(unsigned style) {
  switch (platform::IconOf(style)) {
    case MB_ICONERROR:
      return {GTK_MESSAGE_ERROR, "dialog-error"};
    case MB_ICONQUESTION:
      return {GTK_MESSAGE_QUESTION, "dialog-question"};
    case MB_ICONINFORMATION:
      return {GTK_MESSAGE_INFO, "dialog-information"};
    default:
      return {GTK_MESSAGE_OTHER, nullptr};
  }
}

bool IsLong(const char* text) {
  int lines = 1;
  for (const char* p = text; *p != '\0'; ++p) lines += *p == '\n';
  return lines > kMostLabelLines || std::strlen(text) > kMostLabelBytes;
}

// A read-only view that scrolls, sized to fit the screen it is shown on.
GtkWidget* ScrolledText(const char* text) {
  GdkRectangle area = {0, 0, 800, 600};
  GdkDisplay* display = gdk_display_get_default();
  GdkMonitor* monitor = gdk_display_get_primary_monitor(display);
  if (monitor == nullptr) monitor = gdk_display_get_monitor(display, 0);
  if (monitor != nullptr) gdk_monitor_get_workarea(monitor, &area);

  GtkWidget* view = gtk_text_view_new();
  gtk_text_view_set_editable(GTK_TEXT_VIEW(view), FALSE);
  gtk_text_view_set_cursor_visible(GTK_TEXT_VIEW(view), FALSE);
  gtk_text_view_set_left_margin(GTK_TEXT_VIEW(view), 6);
  gtk_text_view_set_right_margin(GTK_TEXT_VIEW(view), 6);
  gtk_text_buffer_set_text(gtk_text_view_get_buffer(GTK_TEXT_VIEW(view)), text,
                           -1);
  GtkWidget* scrolled = gtk_scrolled_window_new(nullptr, nullptr);
  gtk_scrolled_window_set_shadow_type(GTK_SCROLLED_WINDOW(scrolled),
                                      GTK_SHADOW_IN);
  gtk_widget_set_size_request(scrolled, MIN(640, area.width * 3 / 5),
                              MIN(400, area.height / 2));
  gtk_container_add(GTK_CONTAINER(scrolled), view);
  gtk_widget_show_all(scrolled);
  return scrolled;
}

}  // namespace

extern "C" {

__attribute__((visibility("default"))) int digestbox_dialogs_init() {
  g_set_prgname("digestbox");  // window lists and screen readers name it
  return gtk_init_check(nullptr, nullptr) ? 1 : 0;
}

__attribute__((visibility("default"))) int digestbox_dialogs_show(
    const char* title, const char* text, unsigned style) {
  const bool yes_no = platform::IsYesNo(style);
  const bool scrolled = IsLong(text);
  const Kind kind = KindOf(style);
  GtkWidget* dialog = gtk_message_dialog_new(
      nullptr, GTK_DIALOG_MODAL, kind.type,
      yes_no ? GTK_BUTTONS_YES_NO : GTK_BUTTONS_OK, "%s", scrolled ? "" : text);
  gtk_window_set_title(GTK_WINDOW(dialog), title);
  gtk_window_set_position(GTK_WINDOW(dialog), GTK_WIN_POS_CENTER);
  if (kind.icon != nullptr) {
    // GTK 3.24 shows no icon unless one is set.
    G_GNUC_BEGIN_IGNORE_DEPRECATIONS
    GtkWidget* image =
        gtk_image_new_from_icon_name(kind.icon, GTK_ICON_SIZE_DIALOG);
    gtk_widget_show(image);
    gtk_message_dialog_set_image(GTK_MESSAGE_DIALOG(dialog), image);
    G_GNUC_END_IGNORE_DEPRECATIONS
  }
  if (scrolled) {
    GtkWidget* area =
        gtk_message_dialog_get_message_area(GTK_MESSAGE_DIALOG(dialog));
    GList* children = gtk_container_get_children(GTK_CONTAINER(area));
    for (GList* child = children; child != nullptr; child = child->next) {
      gtk_widget_hide(GTK_WIDGET(child->data));  // the empty labels
    }
    g_list_free(children);
    gtk_box_pack_start(GTK_BOX(area), ScrolledText(text), TRUE, TRUE, 0);
  }
  // Yes is the default, as on Windows; set after packing, which can clear it.
  const int first = yes_no ? GTK_RESPONSE_YES : GTK_RESPONSE_OK;
  gtk_dialog_set_default_response(GTK_DIALOG(dialog), first);
  gtk_widget_grab_focus(
      gtk_dialog_get_widget_for_response(GTK_DIALOG(dialog), first));

  // Escape and the close button give GTK_RESPONSE_DELETE_EVENT: No, or OK.
  const int response = gtk_dialog_run(GTK_DIALOG(dialog));
  gtk_widget_destroy(dialog);
  while (gtk_events_pending()) gtk_main_iteration();
  if (!yes_no) return IDOK;
  return response == GTK_RESPONSE_YES ? IDYES : IDNO;
}

}  // extern "C"
