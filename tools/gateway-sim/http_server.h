// The HTTP side of the stand-in: routing to the endpoint handlers and the faults around them.
#pragma once

#include <httplib.h>

#include "gateway.h"

namespace sim {

void install_routes(httplib::Server& server, Gateway& gateway);

}  // namespace sim
