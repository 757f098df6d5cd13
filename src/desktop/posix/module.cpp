#include "desktop/posix/module.h"

#include <dlfcn.h>

#include <string>

namespace desktop {
namespace posix {

void* LoadModule(const char* file) {
  const std::string path = std::string(DIGESTBOX_MODULE_DIR "/") + file;
  return ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE);
}

}  // namespace posix
}  // namespace desktop
