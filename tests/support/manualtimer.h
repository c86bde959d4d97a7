#pragma once
// Timers that tick only when a test says so.
#include "platform/timer.h"

#include <memory>
#include <vector>

namespace lesemund::testing {

class ManualTimer : public platform::Timer {
public:
    using List = std::shared_ptr<std::vector<ManualTimer *>>;
    ManualTimer(List list, int interval) : list_(std::move(list)), interval_(interval) { list_->push_back(this); }
    ~ManualTimer() override { std::erase(*list_, this); }
    void setInterval(int milliseconds) override { interval_ = milliseconds; }
    int interval() const override { return interval_; }
    void start() override { active_ = true; }
    void stop() override { active_ = false; }
    bool isActive() const override { return active_; }
    // One tick, as the event loop would deliver it: only while running.
    void fire() { if (active_ && onTimeout) onTimeout(); }

private:
    List list_;
    int interval_;
    bool active_ = false;
};

class ManualTimerFactory : public platform::TimerFactory {
public:
    std::unique_ptr<platform::Timer> create(int interval) override { return std::make_unique<ManualTimer>(list_, interval); }
    // The timers made so far that still exist, oldest first.
    const std::vector<ManualTimer *> &timers() const { return *list_; }

private:
    ManualTimer::List list_ = std::make_shared<std::vector<ManualTimer *>>();
};

} // namespace lesemund::testing
