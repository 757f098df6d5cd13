#pragma once

// What the program asks of the GTK dialog module, which it loads with dlopen
// so that the program itself links no GTK library. Texts are UTF-8.
extern "C" {

// Opens the graphical session; 0 when none can be reached.
typedef int (*DialogsInit)();
// One modal dialog; the style and the answer are the message box's own
// (MB_ICONERROR | MB_YESNO..., IDOK, IDYES, IDNO).
typedef int (*DialogsShow)(const char* title, const char* text, unsigned style);
}

#define DIGESTBOX_DIALOGS_MODULE "gtk-dialogs.so"
#define DIGESTBOX_DIALOGS_INIT "digestbox_dialogs_init"
#define DIGESTBOX_DIALOGS_SHOW "digestbox_dialogs_show"
