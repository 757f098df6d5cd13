// The GTK 3 dialog module: each box as a modal GtkMessageDialog.
#include <gtk/gtk.h>

#include <string>
#include <string_view>

#include "desktop/desktop.h"
#include "desktop/gtk/dialog_module.h"
#include "desktop/report_lines.h"

namespace {

struct Kind {
  GtkMessageType type;
  const char* icon;
};

Kind KindOf(unsigned style) {
  switch (desktop::IconOf(style)) {
    case desktop::MB_ICONERROR:
      return {GTK_MESSAGE_ERROR, "dialog-error"};
    case desktop::MB_ICONQUESTION:
      return {GTK_MESSAGE_QUESTION, "dialog-question"};
    case desktop::MB_ICONWARNING:
      return {GTK_MESSAGE_WARNING, "dialog-warning"};
    case desktop::MB_ICONINFORMATION:
      return {GTK_MESSAGE_INFO, "dialog-information"};
    default:
      return {GTK_MESSAGE_OTHER, nullptr};
  }
}

GdkRectangle WorkArea() {
  GdkRectangle area = {0, 0, 800, 600};
  GdkDisplay* display = gdk_display_get_default();
  GdkMonitor* monitor = gdk_display_get_primary_monitor(display);
  if (monitor == nullptr) monitor = gdk_display_get_monitor(display, 0);
  if (monitor != nullptr) gdk_monitor_get_workarea(monitor, &area);
  return area;
}

// Whether the text, laid out as the dialog's label lays it out (its font,
// wrapped at its width, by character where a name has no break), leaves the
// dialog within the work area. A label of a long report would also take
// minutes to lay out, so a text whose lines alone are too many is told
// without laying it out.
bool FitsLabel(GtkWidget* dialog, const char* text, const GdkRectangle& area,
               int width) {
  const int room = area.height - 200;  // title, icon, buttons, margins
  PangoLayout* layout = gtk_widget_create_pango_layout(dialog, "M");
  int line = 0;
  pango_layout_get_pixel_size(layout, nullptr, &line);
  std::size_t lines = 1;
  for (const char* p = text; *p != '\0'; ++p) lines += *p == '\n';
  bool fits = line > 0 && lines <= static_cast<std::size_t>(room / line);
  if (fits) {
    pango_layout_set_text(layout, text, -1);
    pango_layout_set_width(layout, width * PANGO_SCALE);
    pango_layout_set_wrap(layout, PANGO_WRAP_WORD_CHAR);
    int height = 0;
    pango_layout_get_pixel_size(layout, nullptr, &height);
    fits = height <= room;
  }
  g_object_unref(layout);
  return fits;
}

// The pending scroll of a view to its first failure; removed with the view,
// which the user may close before it is done.
struct FirstFailureScroll {
  guint source = 0;
  int tries = 0;
};

// Brings the first failing line into view once the view is shown. The lines
// above it are measured a little at a time after that, and each measure can
// move it, so it is scrolled to again until it stands in view (2 s at most).
gboolean ScrollToFirstFailure(gpointer data) {
  GtkTextView* view = GTK_TEXT_VIEW(data);
  auto* scroll = static_cast<FirstFailureScroll*>(
      g_object_get_data(G_OBJECT(view), "first-failure-scroll"));
  GtkTextBuffer* buffer = gtk_text_view_get_buffer(view);
  GtkTextMark* mark = gtk_text_buffer_get_mark(buffer, "first-failure");
  GtkTextIter at;
  gtk_text_buffer_get_iter_at_mark(buffer, &at, mark);
  GdkRectangle line, shown;
  gtk_text_view_get_iter_location(view, &at, &line);
  gtk_text_view_get_visible_rect(view, &shown);
  const bool in_view =
      line.y >= shown.y && line.y + line.height <= shown.y + shown.height;
  if ((in_view && scroll->tries > 0) || scroll->tries >= 50) {
    scroll->source = 0;
    return G_SOURCE_REMOVE;
  }
  gtk_text_view_scroll_to_mark(view, mark, 0.0, TRUE, 0.0, 0.2);
  ++scroll->tries;
  return G_SOURCE_CONTINUE;
}

// Failing records in bold, in the theme's error colour; the first of them
// selected and scrolled into view once the lines are laid out.
void MarkFailures(GtkTextView* view, const char* text) {
  GtkTextBuffer* buffer = gtk_text_view_get_buffer(view);
  GdkRGBA red = {0.8, 0.0, 0.0, 1.0};
  gtk_style_context_lookup_color(gtk_widget_get_style_context(GTK_WIDGET(view)),
                                 "error_color", &red);
  GtkTextTag* failing =
      gtk_text_buffer_create_tag(buffer, nullptr, "weight", PANGO_WEIGHT_BOLD,
                                 "foreground-rgba", &red, nullptr);
  int line = 0;
  int first = -1;
  desktop::ForEachRecordLine(
      std::string_view(text), std::string_view("\n"),
      [&](std::size_t, std::string_view record) {
        if (desktop::IsFailingRecord(record)) {
          GtkTextIter start, end;
          gtk_text_buffer_get_iter_at_line(buffer, &start, line);
          end = start;
          gtk_text_iter_forward_to_line_end(&end);
          gtk_text_buffer_apply_tag(buffer, failing, &start, &end);
          if (first < 0) {
            first = line;
            gtk_text_buffer_select_range(buffer, &start, &end);
          }
        }
        ++line;
        return true;
      });
  if (first < 0) return;
  GtkTextIter at;
  gtk_text_buffer_get_iter_at_line(buffer, &at, first);
  gtk_text_buffer_create_mark(buffer, "first-failure", &at, TRUE);
  auto* scroll = new FirstFailureScroll;
  g_object_set_data_full(
      G_OBJECT(view), "first-failure-scroll", scroll,
      +[](gpointer data) { delete static_cast<FirstFailureScroll*>(data); });
  g_signal_connect(
      view, "map", G_CALLBACK(+[](GtkWidget* widget, gpointer data) {
        auto* pending = static_cast<FirstFailureScroll*>(data);
        if (pending->source == 0) {
          pending->source = g_timeout_add(40, ScrollToFirstFailure, widget);
        }
      }),
      scroll);
  g_signal_connect(view, "destroy", G_CALLBACK(+[](GtkWidget*, gpointer data) {
                     auto* pending = static_cast<FirstFailureScroll*>(data);
                     if (pending->source != 0) g_source_remove(pending->source);
                     pending->source = 0;
                   }),
                   scroll);
}

// A read-only view that scrolls, within the work area.
GtkWidget* ScrolledText(const char* title, const char* text,
                        const GdkRectangle& area) {
  GtkWidget* view = gtk_text_view_new();
  // Named for a screen reader by the verdict, which ends the text.
  atk_object_set_name(gtk_widget_get_accessible(view), title);
  gtk_text_view_set_editable(GTK_TEXT_VIEW(view), FALSE);
  gtk_text_view_set_cursor_visible(GTK_TEXT_VIEW(view), FALSE);
  gtk_text_view_set_wrap_mode(GTK_TEXT_VIEW(view), GTK_WRAP_WORD_CHAR);
  gtk_text_view_set_left_margin(GTK_TEXT_VIEW(view), 6);
  gtk_text_view_set_right_margin(GTK_TEXT_VIEW(view), 6);
  gtk_text_buffer_set_text(gtk_text_view_get_buffer(GTK_TEXT_VIEW(view)), text,
                           -1);
  MarkFailures(GTK_TEXT_VIEW(view), text);
  GtkWidget* scrolled = gtk_scrolled_window_new(nullptr, nullptr);
  gtk_scrolled_window_set_shadow_type(GTK_SCROLLED_WINDOW(scrolled),
                                      GTK_SHADOW_IN);
  gtk_scrolled_window_set_policy(GTK_SCROLLED_WINDOW(scrolled),
                                 GTK_POLICY_NEVER, GTK_POLICY_AUTOMATIC);
  gtk_widget_set_size_request(scrolled, MIN(640, area.width * 3 / 5),
                              MIN(400, area.height / 2));
  gtk_container_add(GTK_CONTAINER(scrolled), view);
  gtk_widget_show_all(scrolled);
  return scrolled;
}

// The message labels: selectable, so that a failing name can be copied, and
// wrapped by character where a long name has no break.
void ShapeLabels(GtkWidget* area, int chars, bool hide) {
  GList* children = gtk_container_get_children(GTK_CONTAINER(area));
  for (GList* child = children; child != nullptr; child = child->next) {
    GtkWidget* widget = GTK_WIDGET(child->data);
    if (hide) {
      gtk_widget_hide(widget);
    } else if (GTK_IS_LABEL(widget)) {
      gtk_label_set_selectable(GTK_LABEL(widget), TRUE);
      gtk_label_set_line_wrap_mode(GTK_LABEL(widget), PANGO_WRAP_WORD_CHAR);
      // No hyphen where a name breaks: it would read as part of the name.
      PangoAttrList* attributes = pango_attr_list_new();
      pango_attr_list_insert(attributes, pango_attr_insert_hyphens_new(FALSE));
      gtk_label_set_attributes(GTK_LABEL(widget), attributes);
      pango_attr_list_unref(attributes);
      gtk_label_set_max_width_chars(GTK_LABEL(widget), chars);
    }
  }
  g_list_free(children);
}

}  // namespace

extern "C" {

__attribute__((visibility("default"))) int digestbox_dialogs_init() {
  g_set_prgname("digestbox");  // window lists and screen readers name it
  return gtk_init_check(nullptr, nullptr) ? 1 : 0;
}

__attribute__((visibility("default"))) int digestbox_dialogs_show(
    const char* title, const char* text, unsigned style) {
  const bool yes_no = desktop::IsYesNo(style);
  const Kind kind = KindOf(style);
  GtkWidget* dialog = gtk_message_dialog_new(
      nullptr, GTK_DIALOG_MODAL, kind.type,
      yes_no ? GTK_BUTTONS_YES_NO : GTK_BUTTONS_OK, nullptr);
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
  const GdkRectangle area = WorkArea();
  // The label's width: GtkMessageDialog's 60 characters, less on a small
  // screen.
  PangoFontMetrics* metrics = pango_context_get_metrics(
      gtk_widget_get_pango_context(dialog), nullptr, nullptr);
  const int char_width = MAX(
      1, pango_font_metrics_get_approximate_char_width(metrics) / PANGO_SCALE);
  pango_font_metrics_unref(metrics);
  const int chars = MIN(60, area.width * 3 / 5 / char_width);
  const bool fits = FitsLabel(dialog, text, area, chars * char_width);
  if (fits) {
    g_object_set(dialog, "text", text, nullptr);
  }
  GtkWidget* message =
      gtk_message_dialog_get_message_area(GTK_MESSAGE_DIALOG(dialog));
  ShapeLabels(message, chars, !fits);
  if (!fits) {
    gtk_box_pack_start(GTK_BOX(message), ScrolledText(title, text, area), TRUE,
                       TRUE, 0);
    // A screen reader starts with the verdict (the caption), not with the
    // first of thousands of lines.
    atk_object_set_description(gtk_widget_get_accessible(dialog), title);
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
  if (!yes_no) return desktop::IDOK;
  return response == GTK_RESPONSE_YES ? desktop::IDYES : desktop::IDNO;
}

}  // extern "C"
