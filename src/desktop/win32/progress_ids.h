// The progress window's template and its controls, shared by the resource
// script (res/windows/progress_dialog.rc) and the code that fills it.
#pragma once

#define DIGESTBOX_PROGRESS_DIALOG 100
#define DIGESTBOX_PROGRESS_HEADING 101
#define DIGESTBOX_PROGRESS_BAR 102
#define DIGESTBOX_PROGRESS_DETAILS 103
#define DIGESTBOX_PROGRESS_NAME 104
// The default push button's id, which no control has: Return presses
// nothing.
#define DIGESTBOX_PROGRESS_NO_DEFAULT 199
