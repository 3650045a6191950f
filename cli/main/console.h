// The console around one run of the tool: colour support at the start and
// the pause before exit.
#pragma once

// Lets the ANSI colour sequences of the completion messages take effect.
void prepare_console();

// Flushes standard output, then, only when it is an interactive terminal,
// waits 4 seconds so that a console window opened for the tool stays
// readable. Piped or redirected runs end at once.
void pause_before_exit();
