// Extraction of the 20-page fixture documents through the word processor
// of the program (the document reader behind the word processor's calls),
// against LibreOffice headless on the same files and against catdoc.
#include "benchutil.h"

#include "docreaders/documentreader.h"
#include "platform/readerwordprocessor.h"

#include <QElapsedTimer>
#include <QString>

#include <cstdio>
#include <memory>
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

} // namespace

int main() {
    bench::Table table;
    auto reader = std::make_shared<docreaders::DocumentReader>();
    // Only the program's own readers, so that a failure cannot hide behind
    // the LibreOffice fallback.
    reader->setLibreOfficeProgram(QString());
    reader->setCatdocProgram(QString());
    platform::ReaderWordProcessorFactory factory(reader);

    docreaders::DocumentReader outside;
    const bool haveSoffice = !outside.libreOfficeProgram().isEmpty() &&
                             outside.readWithLibreOffice(fixture("umlaute.docx")).has_value();

    for (const char *name : {"zwanzig-seiten.doc", "zwanzig-seiten.rtf"}) {
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
        table.add(label, fast, "ms", 50);

        if (haveSoffice) {
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
