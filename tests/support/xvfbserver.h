#pragma once
// A private X server (Xvfb) for tests that need a real X11 display: started
// on a free display number, reachable only through its local socket, and
// ended when the object goes (or when the test program dies).
#include <QByteArray>
#include <QString>

#include <sys/types.h>

namespace lesemund::testing {

class XvfbServer {
public:
    XvfbServer() = default;
    ~XvfbServer();
    XvfbServer(const XvfbServer &) = delete;
    XvfbServer &operator=(const XvfbServer &) = delete;

    // Starts the server on the first free display from `firstDisplay` on
    // (a display is taken when its socket or lock file exists) and waits
    // until it accepts connections. False, with `error` filled, when no
    // server could be started.
    bool start(int firstDisplay = 120, QString *error = nullptr);
    // Starts a new server on the display number the last one had.
    bool restart(QString *error = nullptr);

    // Ends the server politely and waits for it.
    void stop();
    // Ends the server at once, as a crash would.
    void kill();
    // Freezes and thaws the server: connections stay open but nothing is
    // answered while it is frozen.
    void pause();
    void resume();

    bool running() const { return pid_ > 0; }
    pid_t pid() const { return pid_; }
    int displayNumber() const { return display_; }
    QByteArray displayName() const { return ":" + QByteArray::number(display_); }

private:
    bool launch(int display, QString *error);
    void reap(int signal);

    pid_t pid_ = -1;
    int display_ = -1;
    bool paused_ = false;
};

// One private server for all tests of a test program, started on first use
// on the first free display from `firstDisplay` on.
XvfbServer &sharedXvfbServer(int firstDisplay);

} // namespace lesemund::testing
