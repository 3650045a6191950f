// The local web server that serves the user interface: started beside the
// shell when none runs, recognised and stopped by its executable's name.
#pragma once

#include <cstdint>
#include <string>

// Id of the first process (lowest id) whose executable's file name equals the
// part of `name` after its last '/', compared exactly; 0 when there is none.
uint32_t FindProcessIdByName(const std::string& name);

// Launches http/varnkit-http-server beside the executable unless a process of
// that name runs, then waits until the server accepts connections (at most 1 s).
void StartServer();

// Stops the first process named varnkit-http-server if it runs as this user.
void StopServer();
