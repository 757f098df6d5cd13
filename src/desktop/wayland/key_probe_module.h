#pragma once

// What the program asks of the Wayland key probe, a module it loads with
// dlopen so that the program itself links no Wayland library.
extern "C" {

// Maps a surface that shows nothing, waits up to `timeout_ms` for the
// keyboard focus and stores whether SHIFT and CTRL are held. Returns 1 when
// the focus came, else 0 (and both keys count as not held).
typedef int (*KeyProbe)(int timeout_ms, int* shift, int* ctrl);
}

#define DIGESTBOX_KEY_PROBE_MODULE "wayland-keys.so"
#define DIGESTBOX_KEY_PROBE "digestbox_probe_keys"
