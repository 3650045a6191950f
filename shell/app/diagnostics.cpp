#include "app/diagnostics.h"

#include <cstdio>
#include <cstdlib>

void diagnostic(const QString& event) {
  static const bool enabled = std::getenv("VARNKIT_DIAGNOSTICS") != nullptr;
  if (!enabled) return;
  std::fprintf(stderr, "varnkit: %s\n", event.toUtf8().constData());
  std::fflush(stderr);
}
