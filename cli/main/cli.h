// Entry of the console tool: console set-up, options, echo lines, dispatch, exit status.
#pragma once

// Runs one invocation of varnu-cli and returns its exit status.
int run_cli(int argc, char** argv);
