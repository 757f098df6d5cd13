// The GTK module's progress dialog: the counts and percentage as its
// heading, the bar, the sizes, speed and time left, and the name.
#include <gtk/gtk.h>

#include <cstring>
#include <string>

#include "common/unicode.h"
#include "desktop/gtk/dialog_module.h"
#include "progress/progress_texts.h"

namespace {

std::string Utf8(const std::u16string& text) {
  return common::EncodeUtf8(text);
}

// A size as GNOME Files shows it.
std::u16string Size(unsigned long long bytes) {
  gchar* shown = g_format_size(bytes);
  std::u16string text;
  common::DecodeUtf8(reinterpret_cast<const unsigned char*>(shown),
                     std::strlen(shown), &text);
  g_free(shown);
  return text;
}

// A progress dialog's widgets and where its numbers come from.
struct Progress {
  GtkWidget* dialog = nullptr;
  GtkWidget* bar = nullptr;
  GtkWidget* details = nullptr;
  GtkWidget* name = nullptr;
  DialogsProgressUpdate update = nullptr;
  void* feed = nullptr;
  bool ended = false;
  guint timer = 0;
};

gboolean Refresh(gpointer data) {
  auto* progress = static_cast<Progress*>(data);
  DialogsProgressView view = {};
  if (progress->update(progress->feed, &view) == 0) {
    progress->ended = true;
    progress->timer = 0;
    gtk_dialog_response(GTK_DIALOG(progress->dialog), GTK_RESPONSE_ACCEPT);
    return G_SOURCE_REMOVE;
  }
  const auto unit = static_cast<progress::Unit>(view.unit);
  // Files listed so far have no total: the bar tells no share.
  const std::string percent = unit == progress::Unit::kListed
                                  ? std::string()
                                  : Utf8(progress::PercentText(view.percent));
  const std::string heading =
      Utf8(progress::HeadingText(unit, view.done, view.all, view.percent));
  g_object_set(progress->dialog, "text", heading.c_str(), nullptr);
  GtkProgressBar* bar = GTK_PROGRESS_BAR(progress->bar);
  gtk_progress_bar_set_fraction(bar, view.percent / 100.0);
  gtk_progress_bar_set_text(bar, percent.c_str());
  // A screen reader reads the counts as the bar's name, its value as such.
  atk_object_set_name(gtk_widget_get_accessible(progress->bar),
                      heading.c_str());
  const std::u16string details =
      progress::DetailsText(progress::DetailsOf(view, Size));
  gtk_label_set_text(GTK_LABEL(progress->details), Utf8(details).c_str());
  gtk_label_set_text(GTK_LABEL(progress->name), view.name);
  return G_SOURCE_CONTINUE;
}

GtkWidget* ProgressLabel(GtkWidget* box) {
  GtkWidget* label = gtk_label_new("");
  gtk_label_set_xalign(GTK_LABEL(label), 0.0);
  gtk_label_set_ellipsize(GTK_LABEL(label), PANGO_ELLIPSIZE_MIDDLE);
  gtk_label_set_width_chars(GTK_LABEL(label), 50);
  gtk_label_set_max_width_chars(GTK_LABEL(label), 50);
  gtk_box_pack_start(GTK_BOX(box), label, FALSE, FALSE, 0);
  return label;
}

// Once shown, nothing has the focus: Return meant for another window, or
// pressed here, cancels nothing until the user moves to Cancel.
void OnShown(GtkWidget* dialog, gpointer) {
  gtk_window_set_focus(GTK_WINDOW(dialog), nullptr);
}

}  // namespace

extern "C" {

__attribute__((visibility("default"))) int digestbox_dialogs_progress(
    const char* title, DialogsProgressUpdate update, void* feed) {
  Progress progress;
  progress.update = update;
  progress.feed = feed;
  // A message dialog, as the boxes are, with GTK's own Cancel button.
  progress.dialog =
      gtk_message_dialog_new(nullptr, GTK_DIALOG_MODAL, GTK_MESSAGE_OTHER,
                             GTK_BUTTONS_CANCEL, nullptr);
  GtkWindow* window = GTK_WINDOW(progress.dialog);
  gtk_window_set_title(window, title);
  gtk_window_set_icon_name(window, "digestbox");
  gtk_window_set_position(window, GTK_WIN_POS_CENTER);
  // It appears while the user may be typing elsewhere.
  gtk_window_set_focus_on_map(window, FALSE);
  GtkWidget* cancel = gtk_dialog_get_widget_for_response(
      GTK_DIALOG(progress.dialog), GTK_RESPONSE_CANCEL);
  if (cancel != nullptr) gtk_widget_set_can_default(cancel, FALSE);
  g_signal_connect_after(progress.dialog, "show", G_CALLBACK(OnShown), nullptr);
  GtkWidget* message =
      gtk_message_dialog_get_message_area(GTK_MESSAGE_DIALOG(progress.dialog));
  progress.bar = gtk_progress_bar_new();
  gtk_progress_bar_set_show_text(GTK_PROGRESS_BAR(progress.bar), TRUE);
  gtk_box_pack_start(GTK_BOX(message), progress.bar, FALSE, FALSE, 0);
  progress.details = ProgressLabel(message);
  progress.name = ProgressLabel(message);
  gtk_widget_show_all(message);
  if (Refresh(&progress) == G_SOURCE_REMOVE) {
    gtk_widget_destroy(progress.dialog);
    return 0;
  }
  progress.timer = g_timeout_add(250, Refresh, &progress);
  // Cancel, Escape and the close button all give a response of their own.
  gtk_dialog_run(GTK_DIALOG(progress.dialog));
  if (progress.timer != 0) g_source_remove(progress.timer);
  gtk_widget_destroy(progress.dialog);
  while (gtk_events_pending()) gtk_main_iteration();
  return progress.ended ? 0 : 1;
}

}  // extern "C"
