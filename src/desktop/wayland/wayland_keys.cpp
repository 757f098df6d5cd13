// The Wayland key probe. No Wayland client may ask for the keyboard's state,
// but one whose surface gains the focus is told the modifiers held
// (wl_keyboard.modifiers) and the keys down (wl_keyboard.enter). So a 1x1
// transparent toplevel is mapped for the moment it takes, then destroyed.
// Plain libwayland-client and xkbcommon: GTK would take ten times as long.
#include <poll.h>
#include <sys/mman.h>
#include <time.h>
#include <unistd.h>
#include <wayland-client.h>
#include <xkbcommon/xkbcommon.h>

#include <cstdint>
#include <string_view>

#include "desktop/wayland/key_probe_module.h"
#include "xdg-shell-client-protocol.h"

namespace {

constexpr std::uint32_t kEvdevLeftShift = 42, kEvdevRightShift = 54;
constexpr std::uint32_t kEvdevLeftCtrl = 29, kEvdevRightCtrl = 97;

struct Probe {
  wl_display* display = nullptr;
  wl_registry* registry = nullptr;
  wl_compositor* compositor = nullptr;
  wl_shm* shm = nullptr;
  wl_seat* seat = nullptr;
  xdg_wm_base* shell = nullptr;
  wl_keyboard* keyboard = nullptr;
  wl_surface* surface = nullptr;
  xdg_surface* shell_surface = nullptr;
  xdg_toplevel* toplevel = nullptr;
  wl_buffer* buffer = nullptr;
  xkb_context* xkb = nullptr;
  xkb_keymap* keymap = nullptr;
  bool focused = false;
  bool told_modifiers = false;
  std::uint32_t depressed = 0;  // the modifiers held, as keymap bits
  bool shift_down = false;      // from the keys down on entering
  bool ctrl_down = false;

  ~Probe() {
    if (keymap != nullptr) xkb_keymap_unref(keymap);
    if (xkb != nullptr) xkb_context_unref(xkb);
    if (buffer != nullptr) wl_buffer_destroy(buffer);
    if (toplevel != nullptr) xdg_toplevel_destroy(toplevel);
    if (shell_surface != nullptr) xdg_surface_destroy(shell_surface);
    if (surface != nullptr) wl_surface_destroy(surface);
    if (keyboard != nullptr) wl_keyboard_destroy(keyboard);
    if (seat != nullptr) wl_seat_destroy(seat);
    if (shell != nullptr) xdg_wm_base_destroy(shell);
    if (shm != nullptr) wl_shm_destroy(shm);
    if (compositor != nullptr) wl_compositor_destroy(compositor);
    if (registry != nullptr) wl_registry_destroy(registry);
    if (display != nullptr) wl_display_disconnect(display);
  }

  // Whether a modifier of that name is among those held; without a keymap,
  // the usual bits (Shift 0, Control 2).
  bool Held(const char* name, unsigned usual_bit) const {
    const xkb_mod_index_t index =
        keymap != nullptr ? xkb_keymap_mod_get_index(keymap, name) : usual_bit;
    return index != XKB_MOD_INVALID && index < 32 && (depressed >> index & 1);
  }
};

void OnKeymap(void* data, wl_keyboard*, std::uint32_t format, int fd,
              std::uint32_t size) {
  auto* probe = static_cast<Probe*>(data);
  if (format == WL_KEYBOARD_KEYMAP_FORMAT_XKB_V1 && probe->keymap == nullptr) {
    void* text = mmap(nullptr, size, PROT_READ, MAP_PRIVATE, fd, 0);
    if (text != MAP_FAILED) {
      probe->xkb = xkb_context_new(XKB_CONTEXT_NO_FLAGS);
      if (probe->xkb != nullptr) {
        probe->keymap = xkb_keymap_new_from_string(
            probe->xkb, static_cast<const char*>(text),
            XKB_KEYMAP_FORMAT_TEXT_V1, XKB_KEYMAP_COMPILE_NO_FLAGS);
      }
      munmap(text, size);
    }
  }
  close(fd);
}

void OnEnter(void* data, wl_keyboard*, std::uint32_t, wl_surface*,
             wl_array* keys) {
  auto* probe = static_cast<Probe*>(data);
  probe->focused = true;
  const auto* key = static_cast<const std::uint32_t*>(keys->data);
  for (std::size_t i = 0; i < keys->size / sizeof *key; ++i) {
    if (key[i] == kEvdevLeftShift || key[i] == kEvdevRightShift) {
      probe->shift_down = true;
    }
    if (key[i] == kEvdevLeftCtrl || key[i] == kEvdevRightCtrl) {
      probe->ctrl_down = true;
    }
  }
}

// mutter tells the modifiers before it tells the focus: nothing is reset on
// entering.
void OnModifiers(void* data, wl_keyboard*, std::uint32_t,
                 std::uint32_t depressed, std::uint32_t, std::uint32_t,
                 std::uint32_t) {
  auto* probe = static_cast<Probe*>(data);
  probe->depressed = depressed;
  probe->told_modifiers = true;
}

void OnLeave(void*, wl_keyboard*, std::uint32_t, wl_surface*) {}
void OnKey(void*, wl_keyboard*, std::uint32_t, std::uint32_t, std::uint32_t,
           std::uint32_t) {}
void OnRepeat(void*, wl_keyboard*, std::int32_t, std::int32_t) {}

const wl_keyboard_listener kKeyboard = {OnKeymap, OnEnter,     OnLeave,
                                        OnKey,    OnModifiers, OnRepeat};

void OnCapabilities(void* data, wl_seat* seat, std::uint32_t capabilities) {
  auto* probe = static_cast<Probe*>(data);
  if ((capabilities & WL_SEAT_CAPABILITY_KEYBOARD) != 0 &&
      probe->keyboard == nullptr) {
    probe->keyboard = wl_seat_get_keyboard(seat);
    wl_keyboard_add_listener(probe->keyboard, &kKeyboard, probe);
  }
}
void OnSeatName(void*, wl_seat*, const char*) {}
const wl_seat_listener kSeat = {OnCapabilities, OnSeatName};

void OnPing(void*, xdg_wm_base* shell, std::uint32_t serial) {
  xdg_wm_base_pong(shell, serial);
}
const xdg_wm_base_listener kShell = {OnPing};

// The first configure maps the surface, with one transparent pixel.
void OnConfigure(void* data, xdg_surface* shell_surface, std::uint32_t serial) {
  auto* probe = static_cast<Probe*>(data);
  xdg_surface_ack_configure(shell_surface, serial);
  if (probe->buffer == nullptr) {
    const int fd = memfd_create("digestbox-key-probe", MFD_CLOEXEC);
    if (fd < 0 || ftruncate(fd, 4) != 0) {
      if (fd >= 0) close(fd);
      return;
    }
    wl_shm_pool* pool = wl_shm_create_pool(probe->shm, fd, 4);
    probe->buffer =
        wl_shm_pool_create_buffer(pool, 0, 1, 1, 4, WL_SHM_FORMAT_ARGB8888);
    wl_shm_pool_destroy(pool);
    close(fd);
    wl_surface_attach(probe->surface, probe->buffer, 0, 0);
  }
  wl_surface_commit(probe->surface);
}
const xdg_surface_listener kShellSurface = {OnConfigure};

void OnToplevelConfigure(void*, xdg_toplevel*, std::int32_t, std::int32_t,
                         wl_array*) {}
void OnClose(void*, xdg_toplevel*) {}
// Events of later versions than the one bound stay null.
xdg_toplevel_listener ToplevelListener() {
  xdg_toplevel_listener listener = {};
  listener.configure = OnToplevelConfigure;
  listener.close = OnClose;
  return listener;
}
const xdg_toplevel_listener kToplevel = ToplevelListener();

void OnGlobal(void* data, wl_registry* registry, std::uint32_t name,
              const char* interface, std::uint32_t version) {
  auto* probe = static_cast<Probe*>(data);
  const std::string_view which(interface);
  if (which == wl_compositor_interface.name) {
    probe->compositor = static_cast<wl_compositor*>(
        wl_registry_bind(registry, name, &wl_compositor_interface, 1));
  } else if (which == wl_shm_interface.name) {
    probe->shm = static_cast<wl_shm*>(
        wl_registry_bind(registry, name, &wl_shm_interface, 1));
  } else if (which == wl_seat_interface.name && probe->seat == nullptr) {
    probe->seat = static_cast<wl_seat*>(wl_registry_bind(
        registry, name, &wl_seat_interface, version < 4 ? version : 4));
    wl_seat_add_listener(probe->seat, &kSeat, probe);
  } else if (which == xdg_wm_base_interface.name) {
    probe->shell = static_cast<xdg_wm_base*>(
        wl_registry_bind(registry, name, &xdg_wm_base_interface, 1));
    xdg_wm_base_add_listener(probe->shell, &kShell, probe);
  }
}
void OnGlobalRemove(void*, wl_registry*, std::uint32_t) {}
const wl_registry_listener kRegistry = {OnGlobal, OnGlobalRemove};

long long NowMs() {
  timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  return now.tv_sec * 1000LL + now.tv_nsec / 1000000;
}

// Handles the compositor's events until `done` or the deadline.
template <typename Done>
void DispatchUntil(wl_display* display, long long deadline, Done done) {
  while (!done()) {
    const long long left = deadline - NowMs();
    if (left <= 0) return;
    while (wl_display_prepare_read(display) != 0) {
      if (wl_display_dispatch_pending(display) < 0) return;
    }
    wl_display_flush(display);
    pollfd ready = {wl_display_get_fd(display), POLLIN, 0};
    if (poll(&ready, 1, static_cast<int>(left)) > 0) {
      if (wl_display_read_events(display) < 0) return;
    } else {
      wl_display_cancel_read(display);
    }
    if (wl_display_dispatch_pending(display) < 0) return;
  }
}

}  // namespace

extern "C" __attribute__((visibility("default"))) int digestbox_probe_keys(
    int timeout_ms, int* shift, int* ctrl) {
  *shift = *ctrl = 0;
  const long long deadline = NowMs() + timeout_ms;
  Probe probe;
  probe.display = wl_display_connect(nullptr);
  if (probe.display == nullptr) return 0;
  probe.registry = wl_display_get_registry(probe.display);
  wl_registry_add_listener(probe.registry, &kRegistry, &probe);
  if (wl_display_roundtrip(probe.display) < 0 || probe.compositor == nullptr ||
      probe.shm == nullptr || probe.seat == nullptr || probe.shell == nullptr) {
    return 0;
  }
  probe.surface = wl_compositor_create_surface(probe.compositor);
  probe.shell_surface = xdg_wm_base_get_xdg_surface(probe.shell, probe.surface);
  xdg_surface_add_listener(probe.shell_surface, &kShellSurface, &probe);
  probe.toplevel = xdg_surface_get_toplevel(probe.shell_surface);
  xdg_toplevel_add_listener(probe.toplevel, &kToplevel, &probe);
  xdg_toplevel_set_title(probe.toplevel, "digestbox");
  xdg_toplevel_set_app_id(probe.toplevel, "digestbox");
  // A fixed size: tiling compositors float it instead of making room.
  xdg_toplevel_set_min_size(probe.toplevel, 1, 1);
  xdg_toplevel_set_max_size(probe.toplevel, 1, 1);
  wl_surface_commit(probe.surface);
  DispatchUntil(probe.display, deadline,
                [&] { return probe.focused && probe.told_modifiers; });
  if (!probe.focused) return 0;
  *shift = probe.Held(XKB_MOD_NAME_SHIFT, 0) || probe.shift_down;
  *ctrl = probe.Held(XKB_MOD_NAME_CTRL, 2) || probe.ctrl_down;
  return 1;
}
