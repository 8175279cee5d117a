#pragma once
// The caster process: builds the shared state on a program directory, brings the service up and runs
// it until SIGINT or SIGTERM.
#include <string>

// Runs the caster on programDirectory (ending in "/"); returns the process exit status: 0 after a
// close on a signal, 1 when another caster already runs on the same directory.
int RunCaster(const std::string& programDirectory);
