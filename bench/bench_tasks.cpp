// The task window's poller on both window lists, each with 50 top-level
// windows of other programs: the xcb list under a private X server, and the
// accessibility-bus list in a private headless Wayland session with one GTK
// program's windows. For each list: the time of one polling step (the window
// list read, the three lists rebuilt, the comparison), the processor time of
// the poller left running on its 200 ms timer while nothing changes (the
// whole process, so the accessibility-bus list's own thread counts too), and
// the time from a new window on top to the first audible sample of its
// title, with the main window speaking through the shipped speech page into
// a private PulseAudio.
//
//   bench_tasks [idle seconds, default 10] [steps, default 500] [new windows, default 20]
#include "app/form1.h"
#include "bench/benchutil.h"
#include "platform/atspiwindowlist.h"
#include "platform/curlhttpclient.h"
#include "platform/iniprofilestore.h"
#include "platform/linuxprocesscontrol.h"
#include "platform/qttimer.h"
#include "platform/xcbwindowlist.h"
#include "speech/speechpagehost.h"
#include "support/pulseserver.h"
#include "support/waylandsession.h"
#include "support/xcbtestclient.h"
#include "support/xvfbserver.h"
#include "tasks/ftask.h"

#include <QApplication>
#include <QEventLoop>
#include <QFile>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <functional>
#include <optional>
#include <random>
#include <string>
#include <thread>
#include <vector>

using namespace lesemund;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

namespace {

double cpuSeconds() {
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

double ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

void print(const std::string &what, const std::vector<double> &v) {
    std::printf("%-44s median %.3f ms  (min %.3f, p10 %.3f, p90 %.3f, max %.3f, n=%zu)\n", what.c_str(),
                bench::percentile(v, 0.5), bench::percentile(v, 0), bench::percentile(v, 0.1), bench::percentile(v, 0.9),
                bench::percentile(v, 1.0), v.size());
}

// Runs the event loop until `done`; false when `timeout` came first.
bool pumpUntil(const std::function<bool()> &done, Clock::duration timeout) {
    for (const auto end = Clock::now() + timeout; !done(); std::this_thread::sleep_for(1ms)) {
        if (Clock::now() >= end)
            return false;
        QCoreApplication::processEvents();
    }
    return true;
}

// One polling step of the task window on `windows` (run by hand), then the
// poller left on its timer for `idleSeconds`. `peer` answers the list's
// questions (the X server, the GTK program); its processor time is shown
// beside. `kind` is added to the figures' names.
void benchPolling(platform::WindowList &windows, const std::string &kind, qint64 peer, int idleSeconds, int steps,
                  bench::Table &table) {
    platform::LinuxProcessControl processes;
    platform::QtTimerFactory timers;
    QLineEdit text1;
    QPushButton lesemund(QStringLiteral("Text Lesen"));
    int spoken = 0;
    QObject::connect(&lesemund, &QPushButton::clicked, [&] { ++spoken; });

    Ftask task(windows, processes, timers, &text1, &lesemund);
    task.showTask();
    task.Timer1().stop(); // the steps below are run by hand
    task.hide();

    std::vector<double> snapshotMs, stepMs;
    for (int i = 0; i < 20; ++i) // warm up
        task.Command3()->click();
    for (int i = 0; i < steps; ++i) {
        const auto t0 = Clock::now();
        const bool available = windows.snapshot().available;
        snapshotMs.push_back(ms(Clock::now() - t0));
        if (!available) {
            std::fprintf(stderr, "bench_tasks: the window list%s is not available\n", kind.c_str());
            return;
        }
    }
    for (int i = 0; i < steps; ++i) {
        const auto t0 = Clock::now();
        task.Command3()->click();
        stepMs.push_back(ms(Clock::now() - t0));
    }
    std::printf("rows listed (\"Sichtbare\"): %d, speech requests during the steps: %d\n", task.List1(1)->count(),
                spoken);
    print("window list read alone" + kind + ":", snapshotMs);
    print("one polling step (50 windows" + kind + "):", stepMs);

    // The idle poller: Timer1 on the event loop, nothing changing.
    task.Timer1().start();
    const int spokenBefore = spoken;
    const double cpu0 = cpuSeconds(), peer0 = bench::usage(peer).cpuSeconds;
    const auto wall0 = Clock::now();
    QEventLoop idle;
    QTimer::singleShot(idleSeconds * 1000, &idle, &QEventLoop::quit);
    idle.exec();
    const double wall = std::chrono::duration<double>(Clock::now() - wall0).count();
    const double percent = 100.0 * (cpuSeconds() - cpu0) / wall;
    std::printf("idle poller over %.1f s: %.2f %% of one core (the peer answering the list: %.2f %%); speech "
                "requests: %d\n",
                wall, percent, 100.0 * (bench::usage(peer).cpuSeconds - peer0) / wall, spoken - spokenBefore);
    table.add("Ein Abfrageschritt der Fensterliste (50 Fenster" + kind + ")", stepMs, "ms", 2);
    table.addSingle("Abfrage im Leerlauf (Taskfenster, " + std::to_string(idleSeconds) + " s" + kind + ")", percent,
                    "% eines Kerns", 1);
}

// From a new window on top to the first audible sample of its title: the
// main window on a copy of the data folder, speaking through the shipped
// speech page into the PulseAudio `recorder` listens to, its task window
// polling on its real 200 ms timer. `open` shows a window titled so and
// returns once it is there; it runs on a thread of its own, so that it
// never holds up the poller. Each time from silence, at a random moment of
// the poller's period.
std::vector<double> activationToSound(platform::WindowList &windows, const std::function<bool(const QByteArray &)> &open,
                                      const testing::MonitorRecorder &recorder, int count, const char *kind) {
    QTemporaryDir dir;
    bench::copyDataFolder(dir.path() + "/lesemund", QStringLiteral("sound"));
    auto page = std::make_shared<speech::SpeechPageHost>();
    platform::Services s = bench::windowServices(dir.path(), page);
    s.windows = std::shared_ptr<platform::WindowList>(&windows, [](platform::WindowList *) {});
    s.processes = std::make_shared<platform::LinuxProcessControl>();
    Form1 form(s);
    // The main window shows the task window 1.5 s after it was made.
    if (!pumpUntil([&] { return form.ftask() && form.ftask()->isLoaded(); }, 5s)) {
        std::fprintf(stderr, "bench_tasks: the task window was not loaded (%s)\n", kind);
        return {};
    }
    std::mt19937 random(7);
    std::vector<double> samples;
    int unheard = 0, early = 0;
    for (int i = 0; i <= count; ++i) { // the first loads the voice and is not counted
        recorder.waitSilent(150ms);
        const auto phase = Clock::now() + std::chrono::milliseconds(std::uniform_int_distribution<int>(0, 199)(random));
        pumpUntil([&] { return Clock::now() >= phase; }, 1s);
        const QByteArray title = "Neues Fenster " + QByteArray::number(i) + " " + kind;
        std::atomic<bool> opened = false, ok = false;
        Clock::time_point begun = Clock::now(), appeared;
        std::thread opener([&] {
            ok = open(title);
            appeared = Clock::now();
            opened = true;
        });
        std::optional<Clock::time_point> heard;
        pumpUntil([&] { return opened && (heard = recorder.firstAudible(begun)); }, 5s);
        opener.join();
        QFile said(dir.path() + "/lesemund/fenster.txt");
        const bool spoken = said.open(QIODevice::ReadOnly) && said.readAll().contains(title);
        if (!ok || !heard || !spoken) {
            ++unheard;
        } else if (i > 0) {
            samples.push_back(ms(*heard - appeared));
            early += *heard < appeared;
        }
        page->clickButton(QStringLiteral("Stop"));
        QCoreApplication::processEvents();
    }
    std::printf("%s: %zu new windows heard, %d not heard or another title spoken, %d heard before the window was "
                "reported there\n",
                kind, samples.size(), unheard, early);
    print(std::string("new window -> first audible sample (") + kind + "):", samples);
    return samples;
}

} // namespace

int main(int argc, char **argv) {
    const int idleSeconds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 10;
    const int steps = argc > 2 ? std::max(10, std::atoi(argv[2])) : 500;
    const int activations = argc > 3 ? std::max(5, std::atoi(argv[3])) : 20;

    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QString error;
    bench::Table table;

    testing::XvfbServer server;
    if (!server.start(240, &error)) {
        std::fprintf(stderr, "bench_tasks: no X server: %s\n", qPrintable(error));
        return 1;
    }
    testing::XcbTestClient client(server.displayName());
    if (!client.ok()) {
        std::fprintf(stderr, "bench_tasks: cannot reach the X server\n");
        return 1;
    }
    for (int i = 0; i < 50; ++i) {
        const xcb_window_t w = client.createWindow("Anwendungsfenster Nummer " + QByteArray::number(i));
        client.setNetWmName(w, "Anwendungsfenster Nummer " + QByteArray::number(i) + " \xe2\x80\x93 Dokument");
        client.setPid(w, 10000u + static_cast<uint32_t>(i));
    }
    platform::XcbWindowList::Settings xcbSettings;
    xcbSettings.display = server.displayName();
    platform::XcbWindowList xcbWindows(xcbSettings);
    std::printf("top-level windows on the test display: %zu (50 made by this benchmark)\n",
                xcbWindows.snapshot().windows.size());
    benchPolling(xcbWindows, "", server.pid(), idleSeconds, steps, table);

    testing::WaylandSession session;
    testing::GtkWindows gtk;
    if (!session.start(&error) || !gtk.start(session, &error) || !gtk.openMany("Anwendungsfenster Nummer", 50)) {
        std::fprintf(stderr, "bench_tasks: no Wayland session with GTK windows: %s\n", qPrintable(error));
        return 1;
    }
    platform::AtspiWindowList::Settings atspiSettings;
    atspiSettings.sessionBus = QString::fromUtf8(session.sessionBus());
    platform::AtspiWindowList atspiWindows(atspiSettings);
    if (!pumpUntil([&] { return atspiWindows.snapshot().windows.size() >= 50; }, 15s)) {
        std::fprintf(stderr, "bench_tasks: the accessibility bus lists %zu windows\n",
                     atspiWindows.snapshot().windows.size());
        return 1;
    }
    std::printf("top-level windows on the accessibility bus: %zu (50 made by this benchmark)\n",
                atspiWindows.snapshot().windows.size());
    benchPolling(atspiWindows, ", AT-SPI", gtk.pid(), idleSeconds, steps, table);

    testing::PulseServer pulse;
    testing::MonitorRecorder recorder;
    if (!pulse.start(&error) || !recorder.start(pulse.address(), pulse.monitorName(), &error)) {
        std::fprintf(stderr, "bench_tasks: %s\n", qPrintable(error));
        return 1;
    }
    pulse.exportAddress();
    const auto onX11 = [&](const QByteArray &title) { return client.createWindow(title) != 0; };
    table.add("Fenster aktiviert bis erster Ton (X11)", activationToSound(xcbWindows, onX11, recorder, activations, "X11"),
              "ms", 0);
    const auto onWayland = [&](const QByteArray &title) { return gtk.open(QString::fromUtf8(title)); };
    table.add("Fenster aktiviert bis erster Ton (Wayland, AT-SPI)",
              activationToSound(atspiWindows, onWayland, recorder, activations, "Wayland"), "ms", 0);
    table.print();
    return 0;
}
