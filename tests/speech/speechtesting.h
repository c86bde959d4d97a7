#pragma once
// Helpers of the speech tests: readable QStrings in failure messages and
// waiting with a deadline.
#include <QString>

#include <chrono>
#include <functional>
#include <ostream>
#include <thread>

inline void PrintTo(const QString &text, std::ostream *out) { *out << '"' << text.toStdString() << '"'; }

namespace lesemund::testing {

inline bool waitFor(const std::function<bool()> &condition, std::chrono::milliseconds timeout) {
    const auto end = std::chrono::steady_clock::now() + timeout;
    while (!condition()) {
        if (std::chrono::steady_clock::now() >= end)
            return condition();
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

} // namespace lesemund::testing
