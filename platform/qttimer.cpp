#include "platform/qttimer.h"

#include <QTimer>

namespace lesemund::platform {
namespace {

class QtTimer : public Timer {
public:
    explicit QtTimer(int interval) {
        timer_.setInterval(interval);
        timer_.setTimerType(Qt::CoarseTimer);
        QObject::connect(&timer_, &QTimer::timeout, [this] {
            if (onTimeout)
                onTimeout();
        });
    }
    void setInterval(int ms) override { timer_.setInterval(ms); }
    int interval() const override { return timer_.interval(); }
    void start() override {
        if (!timer_.isActive())
            timer_.start();
    }
    void stop() override { timer_.stop(); }
    bool isActive() const override { return timer_.isActive(); }

private:
    QTimer timer_;
};

} // namespace

std::unique_ptr<Timer> QtTimerFactory::create(int intervalMilliseconds) {
    return std::make_unique<QtTimer>(intervalMilliseconds);
}

} // namespace lesemund::platform
