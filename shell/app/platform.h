// The desktop shell's only door to the operating system beyond what Qt offers:
// the user's folders, private files, a new session for the server, and signals.
#pragma once

#include <string>

namespace shell_platform {

// The user's data folder: $XDG_DATA_HOME when it is an absolute path, else the
// home folder + "/.local/share"; empty when no home folder can be resolved.
std::string user_data_home();

// The user's state folder: $XDG_STATE_HOME when it is an absolute path, else the
// home folder + "/.local/state"; empty when no home folder can be resolved.
std::string user_state_home();

// Makes `parent` + "/" + `name` a folder that only this user may enter (0700);
// missing folders of `parent` are created 0700 on the way. A symbolic link,
// something other than a folder, or a folder of another user at `name` fails it.
bool make_private_folder(const std::string& parent, const std::string& name);

// Creates the new file `path` for writing, readable only by this user (0600),
// without following a symbolic link and never over an existing file.
// The open descriptor, or -1.
int create_private_file(const std::string& path);

// Run in a started child before it executes its program: a session of its own
// (no terminal shared with the shell), default signal handling and no blocked signals.
void detach_child();

bool running_as_root();

// A pipe for a child's account of its run: both ends close on exec; the read end
// does not block. False when it cannot be made.
bool make_events_pipe(int& read_fd, int& write_fd);

// Run in a started child: `fd` stays open in the program it executes.
void keep_open_in_child(int fd);

// What can be read from `fd` now; `ended` becomes true at its end or on an error.
std::string read_available(int fd, bool& ended);

void close_descriptor(int fd);

// A descriptor that becomes readable once SIGINT, SIGTERM or SIGHUP arrived
// (the handlers are installed by the first call); -1 when it cannot be made.
int termination_signal_fd();

}  // namespace shell_platform
