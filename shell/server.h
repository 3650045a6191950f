// The local web server that serves the user interface: started beside the
// shell when none runs, recognised and stopped by its executable's name, and
// trusted only once it has proved to hold the key the shell gave it.
#pragma once

#include <cstdint>
#include <string>

// Id of the first process (lowest id) whose executable's file name equals the
// part of `name` after its last '/', compared exactly; 0 when there is none.
uint32_t FindProcessIdByName(const std::string& name);

// The server proves itself by answering GET kIdentityPath?challenge=HEX with
// identity_proof(key, HEX); it learns the key from this environment variable.
inline constexpr char kIdentityPath[] = "/.varnkit/identity";
inline constexpr char kServerKeyVariable[] = "VARNKIT_SERVER_KEY";

enum class ServerIdentity {
  Ours,     // the kit's server answered the challenge
  Absent,   // nothing accepts connections on the port
  Foreign,  // something else holds the port
};

// Lower-case hex of HMAC-SHA256 over `challenge` with `key`.
std::string identity_proof(const std::string& key, const std::string& challenge);

// Asks whatever listens on 127.0.0.1:`port` to answer a fresh challenge.
ServerIdentity check_server_identity(uint16_t port, const std::string& key);

// Launches http/varnkit-http-server beside the executable with a fresh key
// (kept in `key_file`) unless a process of that name runs, whose key is then
// read from `key_file`; waits until the port accepts connections (at most 1 s)
// and checks who answers there.
ServerIdentity StartServer(const std::string& key_file);

// Stops the first process named varnkit-http-server if it runs as this user.
void StopServer();
