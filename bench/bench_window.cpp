// Speed of the main window end to end: from a focus change, and from
// pressing "URL Datei vorlesen", to the first sample of the speech at the
// output; setting a long text into the scratch field until the window
// answers again; the program's start-up to its first announcement; its idle
// CPU and resident memory. With the argument "textfeld" only the scratch
// field is measured.
#include "app/form1.h"
#include "bench/benchutil.h"
#include "platform/curlhttpclient.h"
#include "platform/iniprofilestore.h"
#include "platform/qttimer.h"
#include "speech/speechpagehost.h"
#include "speech/speechengine.h"
#include "support/httptestserver.h"
#include "support/xvfbserver.h"

#include <QApplication>
#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <mutex>
#include <condition_variable>

using namespace lesemund;
using Clock = std::chrono::steady_clock;

namespace {

// Waits for the first sample of the next utterance.
struct FirstSample {
    std::mutex m;
    std::condition_variable cv;
    std::uint64_t seen = 0;
    Clock::time_point at;

    void install(speech::SpeechEngine &engine) {
        speech::EngineObserver o;
        o.firstSample = [this](std::uint64_t, Clock::time_point t) {
            std::lock_guard lock(m);
            ++seen;
            at = t;
            cv.notify_all();
        };
        engine.setObserver(o);
    }
    std::uint64_t count() {
        std::lock_guard lock(m);
        return seen;
    }
    bool waitBeyond(std::uint64_t n, Clock::time_point &t) {
        std::unique_lock lock(m);
        const bool ok = cv.wait_for(lock, std::chrono::seconds(5), [&] { return seen > n; });
        t = at;
        return ok;
    }
};

struct Window {
    QTemporaryDir dir;
    std::shared_ptr<speech::SpeechPageHost> page = std::make_shared<speech::SpeechPageHost>();
    std::unique_ptr<Form1> form;
    FirstSample first;

    Window() {
        bench::copyDataFolder(dir.path() + "/lesemund");
        form = std::make_unique<Form1>(bench::windowServices(dir.path(), page));
        form->Timer1->stop(); // no task window in the measurements
        first.install(*page->engine());
        // Let the engine load its voice before measuring.
        form->Label1->setCaption(QStringLiteral("Start"));
        Clock::time_point t;
        first.waitBeyond(0, t);
        page->engine()->stop();
    }
};

void benchFocus(bench::Table &table) {
    Window w;
    w.form->show();
    QApplication::setActiveWindow(w.form.get());
    QApplication::processEvents();
    QWidget *controls[] = {w.form->Command17, w.form->Command13, w.form->Fhilfe, w.form->Command15};
    std::vector<double> ms;
    for (int i = 0; i < 100; ++i) {
        const auto n = w.first.count();
        const auto start = Clock::now();
        controls[i % 4]->setFocus(Qt::TabFocusReason);
        Clock::time_point t;
        if (w.first.waitBeyond(n, t))
            ms.push_back(std::chrono::duration<double, std::milli>(t - start).count());
        QApplication::processEvents();
    }
    table.add("Fokuswechsel bis erster Ton (Ansage)", ms, "ms", 20);
}

void benchAddress(bench::Table &table) {
    testing::HttpTestServer server;
    QByteArray text;
    while (text.size() < 50000)
        text += "Dies ist ein Satz aus dem Netz, der vorgelesen wird. ";
    text.truncate(50000);
    server.serve("/text.txt", text, "text/plain; charset=utf-8");
    Window w;
    w.form->Furl->setText(server.url("/text.txt"));
    std::vector<double> ms;
    for (int i = 0; i < 50; ++i) {
        const auto n = w.first.count();
        const auto start = Clock::now();
        w.form->Command14->click();
        Clock::time_point t;
        if (w.first.waitBeyond(n, t))
            ms.push_back(std::chrono::duration<double, std::milli>(t - start).count());
        w.form->Timer5->stop();
        w.page->engine()->stop();
    }
    table.add("\"URL Datei vorlesen\" (50 000 Bytes) bis erster Ton", ms, "ms", 50);
}

// Setting a document's text into the scratch field, from the call until
// the window answers again: the text set, the field's visible part laid
// out and painted, and a call posted behind it run by the event loop.
void benchScratchField(bench::Table &table) {
    Window w;
    w.form->show();
    QApplication::processEvents();
    const auto repeat = [](const QString &unit) {
        QString text;
        text.reserve(5'000'000 + unit.size());
        while (text.size() < 5'000'000)
            text += unit;
        text.truncate(5'000'000);
        return text;
    };
    const QString letters = repeat(QStringLiteral("abcdefghijklmnopqrstuvwxyz"));
    const struct {
        std::string name;
        QString text;
    } cases[] = {
        {"Textfeld setzen: 1 MB, eine Zeile ohne Leerzeichen", letters.left(1'000'000)},
        {"Textfeld setzen: 5 MB, eine Zeile ohne Leerzeichen", letters},
        {"Textfeld setzen: 5 MB, eine Zeile mit Leerzeichen", repeat(QStringLiteral("Wort und Satz "))},
        {"Textfeld setzen: 5 MB, Zeilen zu 54 Zeichen",
         repeat(QStringLiteral("Eine Zeile mit etwas Text darin, wie in einem Brief.\r\n"))},
    };
    for (const auto &c : cases) {
        std::vector<double> ms;
        for (int run = 0; run < 5; ++run) {
            w.form->Text3->setText(QString());
            QApplication::processEvents();
            QElapsedTimer clock;
            clock.start();
            w.form->Text3->setText(c.text);
            w.form->Text3->viewport()->repaint();
            bool answered = false;
            QTimer::singleShot(0, w.form.get(), [&answered] { answered = true; });
            while (!answered)
                QApplication::processEvents(QEventLoop::WaitForMoreEvents);
            ms.push_back(clock.nsecsElapsed() / 1e6);
            if (w.form->Text3->text() != c.text)
                std::fprintf(stderr, "%s: the field does not give back the text set\n", c.name.c_str());
        }
        table.add(c.name, ms, "ms", 200);
    }
}

// Starts the built program in a copy of its folder and times the first
// line of the speech page's journal: on a private X server when one can be
// started (the idle figures then include the window list poller at work),
// else on the offscreen platform.
void benchStartUp(bench::Table &table, const QString &program) {
    testing::XvfbServer xvfb;
    const bool onX = xvfb.start(150);
    std::vector<double> ms;
    double cpuPercent = -1, rssMiB = -1;
    for (int run = 0; run < 10; ++run) {
        QTemporaryDir dir;
        QFile::copy(program, dir.path() + "/tastvolk-lesemund");
        QFile(dir.path() + "/tastvolk-lesemund").setPermissions(QFile::ExeOwner | QFile::ReadOwner);
        bench::copyDataFolder(dir.path() + "/lesemund", "none", "journal.txt");
        QProcess p;
        p.setWorkingDirectory(dir.path());
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        if (onX) {
            env.insert("QT_QPA_PLATFORM", "xcb");
            env.insert("DISPLAY", QString::fromLatin1(xvfb.displayName()));
        } else {
            env.insert("QT_QPA_PLATFORM", "offscreen");
        }
        p.setProcessEnvironment(env);
        QElapsedTimer clock;
        clock.start();
        p.start(dir.path() + "/tastvolk-lesemund", {});
        const QString journal = dir.path() + "/lesemund/journal.txt";
        while (clock.elapsed() < 5000 && QFileInfo(journal).size() == 0)
            QThread::usleep(500);
        if (QFileInfo(journal).size() > 0)
            ms.push_back(clock.nsecsElapsed() / 1e6);
        if (run == 0) {
            // Idle: the poller runs, nothing changes.
            QThread::sleep(2);
            const double idleSeconds = 20;
            const bench::ProcessUsage before = bench::usage(p.processId());
            QThread::msleep(int(idleSeconds * 1000));
            const bench::ProcessUsage after = bench::usage(p.processId());
            cpuPercent = 100.0 * (after.cpuSeconds - before.cpuSeconds) / idleSeconds;
            rssMiB = after.rssKiB / 1024.0;
        }
        p.kill();
        p.waitForFinished(2000);
    }
    const std::string where = onX ? " (X11)" : " (offscreen)";
    table.add("Programmstart bis erste Ansage" + where, ms, "ms", 300);
    table.addSingle("Leerlauf-CPU des Programms, 20 s" + where, cpuPercent, "% eines Kerns", 1);
    table.addSingle("Speicher (resident, im Leerlauf)" + where, rssMiB, "MiB", 0);
}

} // namespace

int main(int argc, char **argv) {
    // Offscreen unless a platform is asked for (an X server with a screen
    // reader's bus, say).
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const QString program = QCoreApplication::applicationDirPath() + "/tastvolk-lesemund";
    bench::Table table;
    if (argc > 1 && QByteArray(argv[1]) == "textfeld") {
        benchScratchField(table);
        table.print();
        return 0;
    }
    benchFocus(table);
    benchAddress(table);
    benchScratchField(table);
    if (QFileInfo::exists(program))
        benchStartUp(table, program);
    table.print();
    return 0;
}
