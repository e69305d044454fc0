// The modal setup dialog "we like velmos" (GTK 3): the size list, "Full screen"
// and "Antialias" (both checked when it opens), "velmo" (the default button:
// Enter) and "no velmo" (cancel; so are Escape and the close box).
#pragma once
#include "app/setup.h"

// Shows the dialog and waits for it to close. The start button records the
// choice into *choice; a cancel leaves it untouched. Returns false when no
// dialog can be shown (no display), which leaves *choice untouched as well.
bool run_setup_dialog(const DisplayModeList& list, SetupChoice* choice);

// The dialog's first step: starts the toolkit (false without a display). The
// toolkit switches the process to the user's locale; numbers stay in the C
// locale (LC_NUMERIC "C"), so printf and strtod keep the decimal point.
bool init_dialog_toolkit();
