#include <X11/Xlib.h>
#include <X11/keysym.h>
#include <dirent.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <linux/input.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "desktop/posix/key_state.h"
#include "desktop/posix/module.h"
#include "desktop/wayland/key_probe_module.h"

namespace desktop {
namespace posix {
namespace {

constexpr int kFocusWaitMs = 300;

bool InWaylandSession() {
  const char* name = std::getenv("WAYLAND_DISPLAY");
  return name != nullptr && *name != '\0';
}

struct KeyPair {
  KeySym x_left, x_right;
  int evdev_left, evdev_right;
};

KeyPair KeysOf(Modifier modifier) {
  if (modifier == Modifier::kShift) {
    return {XK_Shift_L, XK_Shift_R, KEY_LEFTSHIFT, KEY_RIGHTSHIFT};
  }
  return {XK_Control_L, XK_Control_R, KEY_LEFTCTRL, KEY_RIGHTCTRL};
}

}  // namespace

// libX11, loaded only where a display is named: most runs (a terminal, a
// Wayland session, a server) never need it, and linked in it would cost
// every run its pages.
struct KeyState::X11 {
  void* library = nullptr;
  Display* (*open)(const char*) = nullptr;
  int (*close)(Display*) = nullptr;
  int (*query_keymap)(Display*, char*) = nullptr;
  KeyCode (*keycode)(Display*, KeySym) = nullptr;
};

namespace {

bool AskX11(const KeyState::X11& x11, Display* display, const KeyPair& keys) {
  char keymap[32];
  x11.query_keymap(display, keymap);
  bool down = false;
  for (KeySym sym : {keys.x_left, keys.x_right}) {
    const KeyCode code = x11.keycode(display, sym);
    if (code != 0 && (keymap[code / 8] >> (code % 8) & 1)) down = true;
  }
  return down;
}

bool BitSet(const unsigned char* bits, int bit) {
  return bits[bit / 8] >> (bit % 8) & 1;
}

// 1: down, 0: up, -1: no keyboard readable.
int AskEvdev(const KeyPair& keys) {
  DIR* dir = ::opendir("/dev/input");
  if (dir == nullptr) return -1;
  int result = -1;
  while (const struct dirent* entry = ::readdir(dir)) {
    if (std::strncmp(entry->d_name, "event", 5) != 0) continue;
    const std::string path = std::string("/dev/input/") + entry->d_name;
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) continue;
    unsigned char bits[KEY_MAX / 8 + 1] = {};
    if (::ioctl(fd, EVIOCGKEY(sizeof bits), bits) >= 0) {
      if (result < 0) result = 0;
      if (BitSet(bits, keys.evdev_left) || BitSet(bits, keys.evdev_right)) {
        result = 1;
      }
    }
    ::close(fd);
  }
  ::closedir(dir);
  return result;
}

}  // namespace

void KeyState::ProbeWayland() {
  if (wayland_probed_ || !InWaylandSession()) return;
  wayland_probed_ = true;
  void* module = LoadModule(DIGESTBOX_KEY_PROBE_MODULE);
  if (module == nullptr) return;
  const auto probe =
      reinterpret_cast<KeyProbe>(::dlsym(module, DIGESTBOX_KEY_PROBE));
  int shift = 0;
  int ctrl = 0;
  if (probe != nullptr && probe(kFocusWaitMs, &shift, &ctrl) == 1) {
    wayland_shift_ = shift != 0;
    wayland_ctrl_ = ctrl != 0;
  }
  ::dlclose(module);
}

// The library stays loaded for the run once asked for: libX11 registers
// handlers that unloading would leave dangling.
bool KeyState::LoadX11() {
  x11_ = new X11;
  x11_->library = ::dlopen("libX11.so.6", RTLD_NOW | RTLD_LOCAL);
  if (x11_->library == nullptr) return false;
  x11_->open = reinterpret_cast<Display* (*)(const char*)>(
      ::dlsym(x11_->library, "XOpenDisplay"));
  x11_->close = reinterpret_cast<int (*)(Display*)>(
      ::dlsym(x11_->library, "XCloseDisplay"));
  x11_->query_keymap = reinterpret_cast<int (*)(Display*, char*)>(
      ::dlsym(x11_->library, "XQueryKeymap"));
  x11_->keycode = reinterpret_cast<KeyCode (*)(Display*, KeySym)>(
      ::dlsym(x11_->library, "XKeysymToKeycode"));
  return x11_->open && x11_->close && x11_->query_keymap && x11_->keycode;
}

KeyState::~KeyState() {
  if (display_ != nullptr) x11_->close(static_cast<Display*>(display_));
  delete x11_;
}

bool KeyState::IsDown(Modifier modifier) {
  // XWayland's keymap is empty unless an X client has the focus: a Wayland
  // session answers only through the probe.
  if (InWaylandSession()) {
    ProbeWayland();
    return modifier == Modifier::kShift ? wayland_shift_ : wayland_ctrl_;
  }
  if (!display_tried_) {
    display_tried_ = true;
    const char* name = std::getenv("DISPLAY");
    if (name != nullptr && *name != '\0' && LoadX11()) {
      display_ = x11_->open(name);
    }
  }
  const KeyPair keys = KeysOf(modifier);
  if (display_ != nullptr) {
    return AskX11(*x11_, static_cast<Display*>(display_), keys);
  }
  return AskEvdev(keys) == 1;
}

}  // namespace posix
}  // namespace desktop
