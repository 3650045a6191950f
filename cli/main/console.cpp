#include "main/console.h"

#include <cstdio>

#include "platform/platform.h"

void prepare_console() { platform::enable_virtual_terminal(); }

void pause_before_exit() {
  // Some messages end without a line end; they must be visible during the pause.
  std::fflush(stdout);
  if (platform::stdout_is_terminal()) platform::sleep_ms(4000);
}
