// The TFTP side of the stand-in: write requests for flashraw.bin become the last upload.
#pragma once

#include <atomic>

#include "gateway.h"

namespace sim {

// A UDP socket bound to 127.0.0.1:port (0: any free number); -1 on failure.
int open_udp_socket(int port);
// The port number a socket is bound to.
int bound_port(int socket);
// Serves requests arriving on `socket` until `stop` is set; every transfer has
// its own socket (its transfer ID) and thread, all joined before returning.
void serve_tftp(Gateway& gateway, int socket, const std::atomic<bool>& stop);

}  // namespace sim
