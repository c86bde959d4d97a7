#pragma once
// Shared helpers of the benchmarks: medians with their spread, and one line
// per figure in a form that bench/run-all gathers into a single table:
//   RESULT<TAB>figure<TAB>median<TAB>p10<TAB>p90<TAB>unit<TAB>target<TAB>met
#include "platform/curlhttpclient.h"
#include "platform/iniprofilestore.h"
#include "platform/qttimer.h"
#include "platform/services.h"
#include "speech/speechpagehost.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QString>

#include <algorithm>
#include <cstdio>
#include <string>
#include <unistd.h>
#include <vector>

namespace lesemund::bench {

inline double percentile(std::vector<double> v, double p) {
    if (v.empty())
        return -1;
    std::sort(v.begin(), v.end());
    const size_t i = std::min(v.size() - 1, size_t(p * double(v.size() - 1) + 0.5));
    return v[i];
}

class Table {
public:
    // `target` 0 means the figure has no target; lower is better.
    void add(const std::string &name, const std::vector<double> &samples, const std::string &unit, double target) {
        rows_.push_back({name, percentile(samples, 0.5), percentile(samples, 0.1), percentile(samples, 0.9), unit,
                         target, samples.size()});
    }
    void addSingle(const std::string &name, double value, const std::string &unit, double target) {
        rows_.push_back({name, value, value, value, unit, target, 1});
    }
    void print() const {
        for (const Row &r : rows_) {
            const bool met = r.target <= 0 || (r.median >= 0 && r.median < r.target);
            std::printf("RESULT\t%s\t%.3f\t%.3f\t%.3f\t%s\t%s\t%s\n", r.name.c_str(), r.median, r.p10, r.p90,
                        r.unit.c_str(), r.target > 0 ? ("< " + trim(r.target)).c_str() : "-",
                        r.target <= 0 ? "-" : met ? "ja" : "NEIN");
        }
        std::fflush(stdout);
    }

private:
    static std::string trim(double v) {
        char buf[32];
        std::snprintf(buf, sizeof buf, "%g", v);
        return buf;
    }
    struct Row {
        std::string name;
        double median, p10, p90;
        std::string unit;
        double target;
        size_t n;
    };
    std::vector<Row> rows_;
};

// A copy of the shipped data folder at `to` whose speech page speaks through
// `output` ("none": no sound), with a journal of its clicks when `journal`
// names a file.
// The services of a main window on the data folder in `appFolder`: the real
// speech page `page`, options, timers and HTTP; no desktop services.
inline platform::Services windowServices(const QString &appFolder, std::shared_ptr<speech::SpeechPageHost> page) {
    platform::Services s;
    s.appFolder = appFolder;
    s.speechPage = std::move(page);
    s.profiles = std::make_shared<platform::IniProfileStore>();
    s.timers = std::make_shared<platform::QtTimerFactory>();
    s.http = std::make_shared<platform::CurlHttpClient>();
    return s;
}

inline void copyDataFolder(const QString &to, const QString &output = QStringLiteral("none"), const QString &journal = {}) {
    const QString from = QStringLiteral(LESEMUND_SOURCE_DIR) + "/data/lesemund";
    QDir().mkpath(to);
    QDirIterator it(from, QDir::Files);
    while (it.hasNext()) {
        const QString f = it.next();
        QFile::copy(f, to + "/" + QFileInfo(f).fileName());
        QFile(to + "/" + QFileInfo(f).fileName()).setPermissions(QFile::ReadOwner | QFile::WriteOwner);
    }
    QFile page(to + "/sp");
    page.open(QIODevice::ReadOnly);
    QString html = QString::fromUtf8(page.readAll());
    page.close();
    QString attrs = QStringLiteral("<form data-output=\"%1\"").arg(output);
    if (!journal.isEmpty())
        attrs += QStringLiteral(" data-journal=\"%1\"").arg(journal);
    html.replace(QRegularExpression(QStringLiteral("<form\\b[^>]*")), attrs);
    page.open(QIODevice::WriteOnly | QIODevice::Truncate);
    page.write(html.toUtf8());
}

struct ProcessUsage {
    double cpuSeconds = 0;
    long rssKiB = 0;
};

// User and system time and resident memory of a process, from /proc.
inline ProcessUsage usage(qint64 pid) {
    ProcessUsage u;
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (stat.open(QIODevice::ReadOnly)) {
        const QByteArray line = stat.readAll();
        const QList<QByteArray> fields = line.mid(line.lastIndexOf(')') + 2).split(' ');
        if (fields.size() > 13) {
            const double tick = double(sysconf(_SC_CLK_TCK));
            u.cpuSeconds = (fields[11].toDouble() + fields[12].toDouble()) / tick;
        }
    }
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (status.open(QIODevice::ReadOnly)) {
        for (const QByteArray &l : status.readAll().split('\n'))
            if (l.startsWith("VmRSS:"))
                u.rssKiB = l.mid(6).trimmed().split(' ').value(0).toLong();
    }
    return u;
}

} // namespace lesemund::bench
