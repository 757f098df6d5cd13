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

namespace platform {
namespace posix {
namespace {

constexpr int kFocusWaitMs = 300;

bool InWaylandSession() {
  const char* name = std::getenv("WAYLAND_DISPLAY");
  return name != nullptr && *name != '\0';
}

// What the Wayland probe found, for the whole run.
struct WaylandKeys {
  bool probed = false;
  bool shift = false;
  bool ctrl = false;
};

WaylandKeys& FoundOnWayland() {
  static WaylandKeys keys;
  return keys;
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

// libX11, loaded only where a display is named: most runs (a terminal, a
// Wayland session, a server) never need it, and linked in it would cost
// every run its pages.
struct X11 {
  void* library = nullptr;
  Display* (*open)(const char*) = nullptr;
  int (*close)(Display*) = nullptr;
  int (*query_keymap)(Display*, char*) = nullptr;
  KeyCode (*keycode)(Display*, KeySym) = nullptr;
};

X11& LoadedX11() {
  static X11 x11 = [] {
    X11 loaded;
    loaded.library = ::dlopen("libX11.so.6", RTLD_NOW | RTLD_LOCAL);
    if (loaded.library == nullptr) return loaded;
    loaded.open = reinterpret_cast<Display* (*)(const char*)>(
        ::dlsym(loaded.library, "XOpenDisplay"));
    loaded.close = reinterpret_cast<int (*)(Display*)>(
        ::dlsym(loaded.library, "XCloseDisplay"));
    loaded.query_keymap = reinterpret_cast<int (*)(Display*, char*)>(
        ::dlsym(loaded.library, "XQueryKeymap"));
    loaded.keycode = reinterpret_cast<KeyCode (*)(Display*, KeySym)>(
        ::dlsym(loaded.library, "XKeysymToKeycode"));
    if (!loaded.open || !loaded.close || !loaded.query_keymap ||
        !loaded.keycode) {
      loaded.open = nullptr;
    }
    return loaded;
  }();
  return x11;
}

bool AskX11(Display* display, const KeyPair& keys) {
  const X11& x11 = LoadedX11();
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

void ProbeWaylandKeys() {
  WaylandKeys& keys = FoundOnWayland();
  if (keys.probed || !InWaylandSession()) return;
  keys.probed = true;
  void* module = LoadModule(DIGESTBOX_KEY_PROBE_MODULE);
  if (module == nullptr) return;
  const auto probe =
      reinterpret_cast<KeyProbe>(::dlsym(module, DIGESTBOX_KEY_PROBE));
  int shift = 0;
  int ctrl = 0;
  if (probe != nullptr && probe(kFocusWaitMs, &shift, &ctrl) == 1) {
    keys.shift = shift != 0;
    keys.ctrl = ctrl != 0;
  }
  ::dlclose(module);
}

KeyState::~KeyState() {
  if (display_ != nullptr) LoadedX11().close(static_cast<Display*>(display_));
}

bool KeyState::IsDown(Modifier modifier) {
  // XWayland's keymap is empty unless an X client has the focus: a Wayland
  // session answers only through the probe.
  if (InWaylandSession()) {
    ProbeWaylandKeys();
    const WaylandKeys& keys = FoundOnWayland();
    return modifier == Modifier::kShift ? keys.shift : keys.ctrl;
  }
  if (!display_tried_) {
    display_tried_ = true;
    const char* name = std::getenv("DISPLAY");
    if (name != nullptr && *name != '\0' && LoadedX11().open != nullptr) {
      display_ = LoadedX11().open(name);
    }
  }
  const KeyPair keys = KeysOf(modifier);
  if (display_ != nullptr) {
    return AskX11(static_cast<Display*>(display_), keys);
  }
  return AskEvdev(keys) == 1;
}

}  // namespace posix
}  // namespace platform
