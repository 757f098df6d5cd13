#include "desktop/posix/gtk_desktop.h"

#include <dlfcn.h>

#include <string>
#include <utility>

#include "common/unicode.h"
#include "desktop/posix/interrupt_watch.h"
#include "desktop/posix/module.h"
#include "desktop/posix/visible_text.h"

namespace desktop {
namespace posix {

GtkDesktop::~GtkDesktop() { Close(); }

void GtkDesktop::Close() {
  if (module_ != nullptr) ::dlclose(module_);
  module_ = nullptr;
  show_ = nullptr;
  progress_ = nullptr;
}

bool GtkDesktop::Open() {
  Close();
  module_ = LoadModule(DIGESTBOX_DIALOGS_MODULE);
  if (module_ == nullptr) return false;
  const auto init =
      reinterpret_cast<DialogsInit>(::dlsym(module_, DIGESTBOX_DIALOGS_INIT));
  show_ =
      reinterpret_cast<DialogsShow>(::dlsym(module_, DIGESTBOX_DIALOGS_SHOW));
  progress_ = reinterpret_cast<DialogsProgress>(
      ::dlsym(module_, DIGESTBOX_DIALOGS_PROGRESS));
  if (init == nullptr || show_ == nullptr || init() == 0) {
    Close();
    return false;
  }
  return true;
}

int GtkDesktop::ShowMessageBox(const common::WideString& text,
                               const common::WideString& caption,
                               std::uint32_t style) {
  // The same inert rendering as the terminal's; GTK wants UTF-8, which is
  // the one copy made of the text.
  const std::string title = common::EncodeUtf8(VisibleCaption(caption));
  std::string body;
  body.reserve(common::Utf8Size(text.View()));
  ForEachVisiblePiece(text, [&body](std::u16string_view piece) {
    common::EncodeUtf8Onto(piece, &body);
    return true;
  });
  return show_(title.c_str(), body.c_str(), style);
}

namespace {

// The feed's view as the module reads it: the name made visible, in UTF-8.
struct ProgressBridge {
  ProgressFeed& feed;
  std::string name;
};

extern "C" int UpdateProgress(void* data, DialogsProgressView* out) {
  auto& bridge = *static_cast<ProgressBridge*>(data);
  ProgressView view;
  if (!bridge.feed.Update(&view)) return 0;
  bridge.name = common::EncodeUtf8(
      common::VisibleText(view.name.View(), common::LineEnds::kEscaped,
                          common::EscapeForm::kBackslash));
  *out = {static_cast<int>(view.unit), view.done,       view.all,
          view.bytes_known ? 1 : 0,    view.bytes_done, view.bytes_all,
          view.speed_known ? 1 : 0,    view.speed,      view.left_known ? 1 : 0,
          view.seconds_left,           view.percent,    bridge.name.c_str()};
  return 1;
}

}  // namespace

// Started from a terminal, Ctrl+C there cancels the run as it does at a
// terminal, whether or not the dialog shows yet: through a handler of the
// run's own rather than g_unix_signal_add, whose source needs GTK's loop,
// which runs only while a dialog shows.
std::unique_ptr<RunWatch> GtkDesktop::WatchRun(
    const std::function<void()>& cancel) {
  return WatchInterrupt(cancel);
}

void GtkDesktop::ShowProgress(const common::WideString& title,
                              ProgressFeed& feed) {
  if (progress_ == nullptr) return;
  ProgressBridge bridge{feed, {}};
  const std::string shown = common::EncodeUtf8(VisibleCaption(title));
  if (progress_(shown.c_str(), UpdateProgress, &bridge) != 0) feed.Cancel();
}

}  // namespace posix
}  // namespace desktop
