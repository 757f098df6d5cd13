#include "desktop/posix/gtk_desktop.h"

#include <dlfcn.h>

#include <string>

#include "common/unicode.h"
#include "desktop/posix/module.h"
#include "desktop/posix/visible_text.h"

namespace platform {
namespace posix {

GtkDesktop::~GtkDesktop() { Close(); }

void GtkDesktop::Close() {
  if (module_ != nullptr) ::dlclose(module_);
  module_ = nullptr;
  show_ = nullptr;
}

bool GtkDesktop::Open() {
  Close();
  module_ = LoadModule(DIGESTBOX_DIALOGS_MODULE);
  if (module_ == nullptr) return false;
  const auto init =
      reinterpret_cast<DialogsInit>(::dlsym(module_, DIGESTBOX_DIALOGS_INIT));
  show_ =
      reinterpret_cast<DialogsShow>(::dlsym(module_, DIGESTBOX_DIALOGS_SHOW));
  if (init == nullptr || show_ == nullptr || init() == 0) {
    Close();
    return false;
  }
  return true;
}

int GtkDesktop::ShowMessageBox(const WideString& text,
                               const WideString& caption, std::uint32_t style) {
  // The same inert rendering as the terminal's; GTK wants UTF-8.
  const std::string title = EncodeUtf8(VisibleCaption(caption));
  const std::string body = EncodeUtf8(VisibleBody(text));
  return show_(title.c_str(), body.c_str(), style);
}

}  // namespace posix
}  // namespace platform
