#pragma once
// Starting the servers the tests run against (Xvfb, PulseAudio).
#include <chrono>
#include <sys/types.h>

namespace lesemund::testing {

// Starts argv[0] with the arguments `argv` (null-terminated): standard input
// and output on /dev/null, standard error appended to `logPath` (null: to
// /dev/null), the environment `envp` (null: the test's own). The server is
// killed when the test program ends, even by a crash. Returns its process
// id, or -1 when no process could be made.
pid_t spawnTestServer(const char *const argv[], const char *const envp[], const char *logPath);

// Waits up to `timeout` for the child `pid` to end; true when it was reaped.
bool reapTestServer(pid_t pid, std::chrono::milliseconds timeout);

} // namespace lesemund::testing
