#pragma once
// A private Xvfb, reachable only through its local socket.
#include "platform/xcbwindowlist.h"

#include <csignal>

namespace lesemund::testing {

class XvfbServer {
public:
    ~XvfbServer() { stop(SIGTERM); }
    // Starts a server on the first free display from `firstDisplay` on (the
    // last server's display when -1) and waits until it answers.
    bool start(int firstDisplay = -1, QString *error = nullptr);
    // Ends the server with `signal` (SIGKILL: as a crash would), frozen or not.
    void stop(int signal);
    pid_t pid() const { return pid_; }
    QByteArray displayName() const { return ":" + QByteArray::number(display_); }
    platform::XcbWindowList::Settings settings() const { return {displayName(), 50}; }

private:
    pid_t pid_ = -1;
    int display_ = -1;
};

// One server for all tests of a test program.
XvfbServer &sharedXvfb();

} // namespace lesemund::testing
