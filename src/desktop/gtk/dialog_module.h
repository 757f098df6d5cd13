#pragma once

// What the program asks of the GTK dialog module, which it loads with dlopen
// so that the program itself links no GTK library. Texts are UTF-8.
extern "C" {

// Opens the graphical session; 0 when none can be reached.
typedef int (*DialogsInit)();
// One modal dialog; the style and the answer are the message box's own
// (MB_ICONERROR | MB_YESNO..., IDOK, IDYES, IDNO).
typedef int (*DialogsShow)(const char* title, const char* text, unsigned style);

// A progress window's numbers, as the program's ProgressView holds them
// (unit: progress::Unit's value; a zero *_known has nothing to tell); the
// module puts them into words. The name is UTF-8, already made visible.
struct DialogsProgressView {
  int unit;
  unsigned long long done;
  unsigned long long all;
  int bytes_known;
  unsigned long long bytes_done;
  unsigned long long bytes_all;
  int speed_known;
  unsigned long long speed;
  int left_known;
  unsigned long long seconds_left;
  unsigned percent;
  const char* name;
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
