#pragma once
// Starting the servers the tests run against (Xvfb, PulseAudio), and waiting.
#include <chrono>
#include <functional>
#include <sys/types.h>
#include <thread>

namespace lesemund::testing {

// Starts argv[0] with `argv` (null-terminated) and the environment `envp`
// (null: the test's own); standard error goes to `logPath` (null: nowhere),
// standard output to `out` and standard input from `in` (-1: nowhere). The
// server is killed when the test program ends, even by a crash, unless
// `killedWithTest` is false: for a server that ends by itself with another
// one and cleans up behind it only when it is not killed.
pid_t spawnTestServer(const char *const argv[], const char *const envp[], const char *logPath, int out = -1, int in = -1,
                      bool killedWithTest = true);
// Waits up to `timeout` for the child `pid` to end; true when it was reaped.
bool reapTestServer(pid_t pid, std::chrono::milliseconds timeout);

// Waits up to `timeout` for `condition`; its last answer.
inline bool waitFor(const std::function<bool()> &condition, std::chrono::milliseconds timeout) {
    const auto end = std::chrono::steady_clock::now() + timeout;
    while (!condition() && std::chrono::steady_clock::now() < end)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    return condition();
}

} // namespace lesemund::testing
