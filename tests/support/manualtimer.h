#pragma once
// Timers that tick only when a test says so.
#include "platform/timer.h"

#include <algorithm>
#include <memory>
#include <vector>

namespace lesemund::testing {

class ManualTimerFactory;

class ManualTimer : public platform::Timer {
public:
    ManualTimer(ManualTimerFactory *factory, int interval) : factory_(factory), interval_(interval) {}
    ~ManualTimer() override;
    void setInterval(int milliseconds) override { interval_ = milliseconds; }
    int interval() const override { return interval_; }
    void start() override { active_ = true; }
    void stop() override { active_ = false; }
    bool isActive() const override { return active_; }

    // One tick, as the event loop would deliver it: only while running.
    void fire() {
        if (active_ && onTimeout)
            onTimeout();
    }

private:
    friend class ManualTimerFactory;
    ManualTimerFactory *factory_;
    int interval_;
    bool active_ = false;
};

class ManualTimerFactory : public platform::TimerFactory {
public:
    ~ManualTimerFactory() override {
        for (ManualTimer *t : timers_)
            t->factory_ = nullptr;
    }
    std::unique_ptr<platform::Timer> create(int intervalMilliseconds) override {
        auto timer = std::make_unique<ManualTimer>(this, intervalMilliseconds);
        timers_.push_back(timer.get());
        return timer;
    }
    // The timers made so far that still exist, oldest first.
    const std::vector<ManualTimer *> &timers() const { return timers_; }
    void forget(ManualTimer *t) { timers_.erase(std::remove(timers_.begin(), timers_.end(), t), timers_.end()); }

private:
    std::vector<ManualTimer *> timers_;
};

inline ManualTimer::~ManualTimer() {
    if (factory_)
        factory_->forget(this);
}

} // namespace lesemund::testing
