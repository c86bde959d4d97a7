#pragma once
// A `sleep 60` child process for tests that end processes; ended and
// reaped by the destructor if it is still there.
#include <chrono>
#include <csignal>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char **environ;

namespace lesemund::testing {

class Sleeper {
public:
    Sleeper() {
        const char *argv[] = {"sleep", "60", nullptr};
        if (::posix_spawnp(&pid_, "sleep", nullptr, nullptr, const_cast<char *const *>(argv), environ) != 0)
            pid_ = -1;
    }
    ~Sleeper() {
        if (pid_ > 0 && !reaped_) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
    }
    pid_t pid() const { return pid_; }
    bool alive() {
        if (reaped_)
            return false;
        int status = 0;
        const pid_t r = ::waitpid(pid_, &status, WNOHANG);
        if (r == pid_) {
            reaped_ = true;
            status_ = status;
            return false;
        }
        return r == 0;
    }
    // Waits up to two seconds for the child's end; its wait status, or -1.
    int waitForEnd() {
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(2);
        while (alive() && std::chrono::steady_clock::now() < end)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        return reaped_ ? status_ : -1;
    }

private:
    pid_t pid_ = -1;
    bool reaped_ = false;
    int status_ = 0;
};

} // namespace lesemund::testing
