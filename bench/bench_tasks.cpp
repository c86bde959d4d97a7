// The task window's poller under a private X server with 50 top-level
// windows: the time of one polling step (the xcb window list read, the three
// lists rebuilt, the comparison), and the processor time of the poller left
// running on its 200 ms timer while nothing changes.
//
//   bench_tasks [idle seconds, default 10] [steps, default 500]
#include "bench/benchutil.h"
#include "platform/linuxprocesscontrol.h"
#include "platform/qttimer.h"
#include "platform/xcbwindowlist.h"
#include "support/xcbtestclient.h"
#include "support/xvfbserver.h"
#include "tasks/ftask.h"

#include <QApplication>
#include <QEventLoop>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <sstream>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

double cpuSeconds() {
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

// User plus system time of another process, in seconds.
double cpuSecondsOf(pid_t pid) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    std::getline(stat, line);
    const auto close = line.rfind(')');
    if (close == std::string::npos)
        return 0;
    std::istringstream rest(line.substr(close + 2));
    std::string field;
    unsigned long long utime = 0, stime = 0;
    for (int i = 3; i <= 15 && rest >> field; ++i) {
        if (i == 14)
            utime = std::stoull(field);
        if (i == 15)
            stime = std::stoull(field);
    }
    return static_cast<double>(utime + stime) / static_cast<double>(sysconf(_SC_CLK_TCK));
}

struct Spread {
    double min, p10, median, p90, p99, max;
};

Spread spreadOf(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    auto at = [&](double q) { return v[static_cast<size_t>(q * static_cast<double>(v.size() - 1))]; };
    return {v.front(), at(0.10), at(0.50), at(0.90), at(0.99), v.back()};
}

void print(const char *what, const Spread &s) {
    std::printf("%-34s median %.3f ms  (min %.3f, p10 %.3f, p90 %.3f, p99 %.3f, max %.3f)\n", what, s.median, s.min,
                s.p10, s.p90, s.p99, s.max);
}

} // namespace

int main(int argc, char **argv) {
    const int idleSeconds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 10;
    const int steps = argc > 2 ? std::max(10, std::atoi(argv[2])) : 500;

    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);

    lesemund::testing::XvfbServer server;
    QString error;
    if (!server.start(240, &error)) {
        std::fprintf(stderr, "bench_tasks: no X server: %s\n", qPrintable(error));
        return 1;
    }
    lesemund::testing::XcbTestClient client(server.displayName());
    if (!client.ok()) {
        std::fprintf(stderr, "bench_tasks: cannot reach the X server\n");
        return 1;
    }
    for (int i = 0; i < 50; ++i) {
        const xcb_window_t w = client.createWindow("Anwendungsfenster Nummer " + QByteArray::number(i));
        client.setNetWmName(w, "Anwendungsfenster Nummer " + QByteArray::number(i) + " \xe2\x80\x93 Dokument");
        client.setPid(w, 10000u + static_cast<uint32_t>(i));
    }

    lesemund::platform::XcbWindowList::Settings settings;
    settings.display = server.displayName();
    lesemund::platform::XcbWindowList windows(settings);
    lesemund::platform::LinuxProcessControl processes;
    lesemund::platform::QtTimerFactory timers;
    QLineEdit text1;
    QPushButton lesemund(QStringLiteral("Text Lesen"));
    int spoken = 0;
    QObject::connect(&lesemund, &QPushButton::clicked, [&] { ++spoken; });

    lesemund::Ftask task(windows, processes, timers, &text1, &lesemund);
    task.showTask();
    task.Timer1().stop(); // the steps below are run by hand
    task.hide();

    const auto first = windows.snapshot();
    std::printf("top-level windows on the test display: %zu (50 made by this benchmark)\n", first.windows.size());

    using Clock = std::chrono::steady_clock;
    std::vector<double> snapshotMs, stepMs;
    for (int i = 0; i < 20; ++i) // warm up
        task.Command3()->click();
    for (int i = 0; i < steps; ++i) {
        const auto t0 = Clock::now();
        const auto s = windows.snapshot();
        const auto t1 = Clock::now();
        snapshotMs.push_back(std::chrono::duration<double, std::milli>(t1 - t0).count());
        if (!s.available)
            return 1;
    }
    for (int i = 0; i < steps; ++i) {
        const auto t0 = Clock::now();
        task.Command3()->click();
        const auto t1 = Clock::now();
        stepMs.push_back(std::chrono::duration<double, std::milli>(t1 - t0).count());
    }
    std::printf("rows listed (\"Sichtbare\"): %d, speech requests during the steps: %d\n", task.List1(1)->count(),
                spoken);
    print("window list read alone:", spreadOf(snapshotMs));
    const Spread step = spreadOf(stepMs);
    print("one polling step (50 windows):", step);
    std::printf("polling step target: median under 2 ms: %s\n", step.median < 2.0 ? "met" : "NOT met");

    // The idle poller: Timer1 on the event loop, nothing changing.
    task.Timer1().start();
    const int ticksBefore = spoken;
    const double cpu0 = cpuSeconds();
    const double server0 = cpuSecondsOf(server.pid());
    const auto wall0 = Clock::now();
    QTimer::singleShot(idleSeconds * 1000, &app, &QCoreApplication::quit);
    app.exec();
    const double wall = std::chrono::duration<double>(Clock::now() - wall0).count();
    const double cpu = cpuSeconds() - cpu0;
    const double serverCpu = cpuSecondsOf(server.pid()) - server0;
    std::printf("idle poller over %.1f s of wall time: %.3f s processor time = %.2f %% of one core "
                "(X server: %.2f %%); speech requests: %d\n",
                wall, cpu, 100.0 * cpu / wall, 100.0 * serverCpu / wall, spoken - ticksBefore);
    std::printf("idle target: under 1 %% of one core: %s\n", 100.0 * cpu / wall < 1.0 ? "met" : "NOT met");
    lesemund::bench::Table table;
    table.add("Ein Abfrageschritt der Fensterliste (50 Fenster)", stepMs, "ms", 2);
    table.addSingle("Abfrage im Leerlauf (Taskfenster, " + std::to_string(idleSeconds) + " s)", 100.0 * cpu / wall,
                    "% eines Kerns", 1);
    table.print();
    return 0;
}
