// From a click on user1 to the first PCM sample handed to the output, and the
// click itself on the calling thread: 100 clicks, each cutting off the speech
// of the one before, with a German sentence of 100 characters.
//
//   bench_speech [wav|none|sound]      (default: wav, into a temporary folder)
#include "bench/benchutil.h"
#include "docreaders/codepage.h"
#include "speech/speechpagehost.h"
#include "speech/speechengine.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <thread>
#include <vector>

using Clock = std::chrono::steady_clock;

namespace {

struct FirstSamples {
    std::mutex m;
    std::condition_variable cv;
    std::uint64_t lastId = 0;
    Clock::time_point lastTime;
};

void writeFile(const QString &path, const QByteArray &bytes) {
    QFile f(path);
    if (f.open(QIODevice::WriteOnly | QIODevice::Truncate))
        f.write(bytes);
}

void report(const char *what, std::vector<double> values, const char *unit, double target) {
    std::sort(values.begin(), values.end());
    const auto at = [&values](double q) {
        return values[std::min(values.size() - 1, static_cast<std::size_t>(q * (values.size() - 1) + 0.5))];
    };
    std::printf("%-44s median %8.3f %s   min %8.3f   p90 %8.3f   max %8.3f   (target < %g %s: %s)\n", what,
                at(0.5), unit, values.front(), at(0.9), values.back(), target, unit,
                at(0.5) < target ? "met" : "NOT met");
}

} // namespace

int main(int argc, char **argv) {
    QCoreApplication app(argc, argv);
    const QString output = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("wav");
    QString attribute = QStringLiteral("wav:wav");
    if (output == QStringLiteral("none") || output == QStringLiteral("sound"))
        attribute = output;

    QTemporaryDir dir;
    const QString data = dir.path() + QStringLiteral("/lesemund");
    QDir().mkpath(data);
    writeFile(data + QStringLiteral("/sp"),
              QStringLiteral("<html><head><title>Messung</title></head><body><form data-output=\"%1\">"
                             "<input type=button name=user1><input type=button name=Stop></form></body></html>")
                  .arg(attribute)
                  .toUtf8());
    const QString sentence = QString::fromUtf8(
        "Der schnelle braune Fuchs springt über den faulen Hund, und die Katze schläft ruhig im Korb am Ofen.");
    writeFile(data + QStringLiteral("/text.txt"), lesemund::codepage::toAnsi(sentence));

    lesemund::speech::SpeechPageHost host;
    host.navigate(data + QStringLiteral("/sp"));
    if (!host.isLoaded()) {
        std::fprintf(stderr, "bench_speech: the page did not load\n");
        return 1;
    }
    FirstSamples first;
    lesemund::speech::EngineObserver observer;
    observer.firstSample = [&first](std::uint64_t id, Clock::time_point when) {
        std::lock_guard lock(first.m);
        first.lastId = id;
        first.lastTime = when;
        first.cv.notify_all();
    };
    host.engine()->setObserver(observer);

    const auto clickAndWait = [&](double *clickMicros, double *firstMillis) {
        std::uint64_t before;
        {
            std::lock_guard lock(first.m);
            before = first.lastId;
        }
        const Clock::time_point start = Clock::now();
        host.clickButton(QStringLiteral("user1"));
        const Clock::time_point clicked = Clock::now();
        std::unique_lock lock(first.m);
        if (!first.cv.wait_for(lock, std::chrono::seconds(5), [&] { return first.lastId > before; }))
            return false;
        *clickMicros = std::chrono::duration<double, std::micro>(clicked - start).count();
        *firstMillis = std::chrono::duration<double, std::milli>(first.lastTime - start).count();
        return true;
    };

    // Warm up: espeak-ng loads its data and the German voice.
    double c = 0, f = 0;
    if (!clickAndWait(&c, &f)) {
        std::fprintf(stderr, "bench_speech: no sound reached the %s output (is a sound server running?)\n",
                     qPrintable(output));
        return 1;
    }
    std::printf("bench_speech: output %s, sentence of %lld characters, first click after loading the page %.3f ms\n",
                qPrintable(attribute), static_cast<long long>(sentence.size()), f);

    std::vector<double> clicks, firsts;
    for (int i = 0; i < 100; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(30)); // let it speak, then cut it off
        if (clickAndWait(&c, &f)) {
            clicks.push_back(c);
            firsts.push_back(f);
        }
    }
    host.clickButton(QStringLiteral("Stop"));
    host.engine()->waitUntilIdle(std::chrono::seconds(2));
    if (firsts.empty()) {
        std::fprintf(stderr, "bench_speech: no measurement\n");
        return 1;
    }
    std::printf("%zu clicks measured\n", firsts.size());
    report("click user1 -> first PCM sample at output:", firsts, "ms", 15);
    report("click on the calling thread:", clicks, "us", 1000);
    lesemund::bench::Table table;
    table.add(QStringLiteral("Klick user1 bis erstes PCM-Sample (Ausgabe %1)").arg(attribute).toStdString(),
              firsts, "ms", 15);
    table.add("Klick user1 auf dem aufrufenden Thread", clicks, "µs", 1000);
    table.print();
    return 0;
}
