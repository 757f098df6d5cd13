#pragma once

// What the program asks of the GTK dialog module, which it loads with dlopen
// so that the program itself links no GTK library. Texts are UTF-8.
extern "C" {

// Opens the graphical session; 0 when none can be reached.
typedef int (*DialogsInit)();
// One modal dialog; the style and the answer are the message box's own
// (MB_ICONERROR | MB_YESNO..., IDOK, IDYES, IDNO).
typedef int (*DialogsShow)(const char* title, const char* text, unsigned style);

// A progress window's lines, as the program's ProgressView holds them.
struct DialogsProgressView {
  const char* files;
  const char* bytes;
  const char* speed;
  const char* left;
  const char* name;
  double fraction;
};
// Fills *view, whose texts stay valid until the next call; 0 once the run
// has ended.
typedef int (*DialogsProgressUpdate)(void* feed,
                                     struct DialogsProgressView* view);
// A modal progress dialog, updated a few times a second until `update`
// ends it (returns 0) or the user cancels (returns 1).
typedef int (*DialogsProgress)(const char* title, DialogsProgressUpdate update,
                               void* feed);
}

#define DIGESTBOX_DIALOGS_MODULE "gtk-dialogs.so"
#define DIGESTBOX_DIALOGS_INIT "digestbox_dialogs_init"
#define DIGESTBOX_DIALOGS_SHOW "digestbox_dialogs_show"
#define DIGESTBOX_DIALOGS_PROGRESS "digestbox_dialogs_progress"
