// Extraction of the 20-page fixture documents through the word processor
// of the program (the document reader behind the word processor's calls),
// against LibreOffice headless on the same files (for the PDF, which
// LibreOffice's word processor cannot open, against poppler's pdftotext)
// and against catdoc; and the peak memory of one read of the .docx, .odt and
// .pdf beyond the idle program.
#include "benchutil.h"

#include "docreaders/documentreader.h"
#include "docreaders/documentreaderprocess.h"
#include "platform/readerwordprocessor.h"

#include <QElapsedTimer>
#include <QString>

#include <cstdio>
#include <cstring>
#include <memory>
#include <sys/wait.h>
#include <vector>

using namespace lesemund;

namespace {

QString fixture(const char *name) {
    return QStringLiteral(LESEMUND_SOURCE_DIR "/tests/fixtures/documents/") + QString::fromLatin1(name);
}

// One extraction as the window does it: create, hide, open read-only,
// select all, selection into the variable and back, close, quit. Returns
// milliseconds and the length of the text.
double extractOnce(platform::WordProcessorFactory &factory, const QString &path, qsizetype *length) {
    QElapsedTimer timer;
    timer.start();
    auto word = factory.create();
    word->setVisible(false);
    word->documentsOpen(path, true);
    word->editSelectAll();
    word->setDocumentVar(QStringLiteral("MyVar"), word->selection());
    const QString s = word->getDocumentVar(QStringLiteral("MyVar")).value_or(QString());
    word->documentsClose(0);
    word->quit();
    const double ms = double(timer.nsecsElapsed()) / 1e6;
    if (length)
        *length = s.size();
    return ms;
}

template <typename F>
std::vector<double> timeRuns(int runs, F &&f) {
    std::vector<double> samples;
    for (int i = 0; i < runs; ++i) {
        QElapsedTimer timer;
        timer.start();
        f();
        samples.push_back(double(timer.nsecsElapsed()) / 1e6);
    }
    return samples;
}

long statusKiB(const char *field) {
    QFile status(QStringLiteral("/proc/self/status"));
    if (status.open(QIODevice::ReadOnly))
        for (const QByteArray &l : status.readAll().split('\n'))
            if (l.startsWith(field))
                return l.mid(qsizetype(std::strlen(field))).trimmed().split(' ').value(0).toLong();
    return -1;
}

// The peak resident memory of one read beyond the program before it, in
// MiB: in a child process started from the idle program, whose peak is
// reset (clear_refs 5) before the read; -1 when it cannot be measured.
double peakReadMiB(docreaders::DocumentReader &reader, const QString &path) {
    int fds[2];
    if (pipe(fds) != 0)
        return -1;
    const pid_t pid = fork();
    if (pid == 0) {
        QFile clear(QStringLiteral("/proc/self/clear_refs"));
        long delta = -1;
        if (clear.open(QIODevice::WriteOnly) && clear.write("5") == 1) {
            clear.close();
            const long before = statusKiB("VmRSS:");
            const auto text = reader.read(path);
            delta = text && text->size() > 30000 ? statusKiB("VmHWM:") - before : -1;
        }
        (void)!write(fds[1], &delta, sizeof delta);
        _exit(0);
    }
    close(fds[1]);
    long delta = -1;
    if (pid < 0 || read(fds[0], &delta, sizeof delta) != sizeof delta)
        delta = -1;
    close(fds[0]);
    if (pid > 0)
        waitpid(pid, nullptr, 0);
    return delta < 0 ? -1 : double(delta) / 1024.0;
}

} // namespace

int main() {
    bench::Table table;
    auto reader = std::make_shared<docreaders::DocumentReader>();
    // Only the program's own readers, so that a failure cannot hide behind
    // the LibreOffice fallback.
    reader->setLibreOfficeProgram(QString());
    reader->setCatdocProgram(QString());
    platform::ReaderWordProcessorFactory factory(reader);
    // Memory first, while the program is idle.
    for (const char *name : {"zwanzig-seiten.docx", "zwanzig-seiten.odt", "zwanzig-seiten.pdf"})
        table.addSingle(std::string("Spitzenspeicher Lesen ") + name, peakReadMiB(*reader, fixture(name)), "MiB", 30);

    docreaders::DocumentReader outside;
    const bool haveSoffice = !outside.libreOfficeProgram().isEmpty() &&
                             outside.readWithLibreOffice(fixture("umlaute.docx")).has_value();

    for (const char *name : {"zwanzig-seiten.doc", "zwanzig-seiten.rtf", "zwanzig-seiten.docx", "zwanzig-seiten.odt",
                             "zwanzig-seiten.pdf"}) {
        const bool newFormat = QString::fromLatin1(name).contains(QStringLiteral(".docx")) ||
                               QString::fromLatin1(name).endsWith(QStringLiteral(".odt")) ||
                               QString::fromLatin1(name).endsWith(QStringLiteral(".pdf"));
        const QString path = fixture(name);
        qsizetype length = 0;
        extractOnce(factory, path, &length); // warm the file cache
        if (length < 30000) {
            std::fprintf(stderr, "bench_documents: %s gave only %lld characters\n", name, (long long)length);
            return 1;
        }
        std::vector<double> fast;
        for (int i = 0; i < 101; ++i)
            fast.push_back(extractOnce(factory, path, nullptr));
        const std::string label = std::string("Extraktion ") + name + " (" + std::to_string(length) + " Zeichen)";
        table.add(label, fast, "ms", newFormat ? 20 : 50);

        if (QString::fromLatin1(name).endsWith(QStringLiteral(".pdf"))) {
            const auto pt = timeRuns(11, [&] {
                docreaders::runProgram(QStringLiteral("pdftotext"), {QStringLiteral("-enc"), QStringLiteral("UTF-8"), path,
                                       QStringLiteral("-")}, QStringLiteral("/"), {QStringLiteral("PATH=/usr/bin:/bin")},
                                       std::chrono::seconds(10), 1 << 24);
            });
            table.add(std::string("pdftotext ") + name, pt, "ms", 0);
            table.addSingle(std::string("Verhältnis pdftotext / Extraktion ") + name,
                            bench::percentile(pt, 0.5) / bench::percentile(fast, 0.5), "fach", 0);
        } else if (haveSoffice) {
            const auto lo = timeRuns(3, [&] { outside.readWithLibreOffice(path); });
            table.add(std::string("LibreOffice headless ") + name, lo, "ms", 0);
            table.addSingle(std::string("Verhältnis LibreOffice / Extraktion ") + name,
                            bench::percentile(lo, 0.5) / bench::percentile(fast, 0.5), "fach", 0);
        } else {
            std::fprintf(stderr, "bench_documents: no LibreOffice, no comparison\n");
        }
        if (QString::fromLatin1(name).endsWith(QStringLiteral(".doc"))) {
            const auto cd = timeRuns(11, [&] { outside.readWithCatdoc(path); });
            table.add(std::string("catdoc ") + name, cd, "ms", 0);
        }
    }
    table.print();
    return 0;
}
