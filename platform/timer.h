#pragma once
// The clock-driven timers of the windows. Production code gets timers that
// run on the event loop; tests get timers they fire by hand.
#include <functional>
#include <memory>

namespace lesemund::platform {

class Timer {
public:
    virtual ~Timer() = default;
    virtual void setInterval(int milliseconds) = 0;
    virtual int interval() const = 0;
    // Starting a running timer or stopping a stopped one changes nothing.
    virtual void start() = 0;
    virtual void stop() = 0;
    virtual bool isActive() const = 0;

    std::function<void()> onTimeout;
};

class TimerFactory {
public:
    virtual ~TimerFactory() = default;
    virtual std::unique_ptr<Timer> create(int intervalMilliseconds) = 0;
};

} // namespace lesemund::platform
