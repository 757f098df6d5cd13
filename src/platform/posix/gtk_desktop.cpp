#include "platform/posix/gtk_desktop.h"

#include <dlfcn.h>
#include <unistd.h>

#include <string>

#include "platform/posix/locale_codec.h"
#include "platform/posix/visible_text.h"

namespace platform {
namespace posix {
namespace {

std::string ProgramFolder() {
  char path[4096];
  const ssize_t length = ::readlink("/proc/self/exe", path, sizeof path - 1);
  if (length <= 0) return std::string();
  const std::string program(path, static_cast<std::size_t>(length));
  return program.substr(0, program.rfind('/') + 1);
}

// GTK cannot be unloaded once initialised: RTLD_NODELETE keeps it mapped
// after dlclose, so closing the handle is always safe.
void* LoadModule() {
  const int flags = RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE;
  const std::string beside = ProgramFolder() + DIGESTBOX_DIALOGS_MODULE;
  if (void* module = ::dlopen(beside.c_str(), flags)) return module;
  return ::dlopen(DIGESTBOX_MODULE_DIR "/" DIGESTBOX_DIALOGS_MODULE, flags);
}

}  // namespace

GtkDesktop::~GtkDesktop() { Close(); }

void GtkDesktop::Close() {
  if (module_ != nullptr) ::dlclose(module_);
  module_ = nullptr;
  show_ = nullptr;
}

bool GtkDesktop::Open() {
  Close();
  module_ = LoadModule();
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
  const std::string body = EncodeUtf8(VisibleText(text.View(), true));
  return show_(title.c_str(), body.c_str(), style);
}

}  // namespace posix
}  // namespace platform
