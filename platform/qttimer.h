#pragma once
#include "platform/timer.h"

namespace lesemund::platform {

// Timers on the Qt event loop, ticking on the user-interface thread.
class QtTimerFactory : public TimerFactory {
public:
    std::unique_ptr<Timer> create(int intervalMilliseconds) override;
};

} // namespace lesemund::platform
