#pragma once
// Runs the outside programs of the document reader (catdoc, LibreOffice):
// started with an argument vector (never through a shell) in a process
// group of its own, with a time limit after which the whole group is
// killed, its standard output collected up to a limit.
#include <QByteArray>
#include <QString>
#include <QStringList>
#include <chrono>

namespace lesemund::docreaders {

struct ProgramRun {
    bool started = false;   // the program was found and started
    bool finished = false;  // it ended by itself within the time limit
    bool timedOut = false;  // it ran over the time limit and was killed
    int exitCode = -1;      // its exit code when it ended normally
    QByteArray output;      // its standard output, at most the limit
    bool outputCut = false; // it wrote more than that (and was killed)
};

// Starts `program` (a path, or a name looked up in PATH) with `arguments`
// in `workingDirectory` with exactly the environment `environment`
// ("NAME=value" entries). Standard input is empty, standard error is
// discarded. Waits at most `timeLimit`; then, or when the output goes
// beyond `maxOutput` bytes, the program and everything it started in its
// process group are killed. Whatever the program left running in its group
// after it ended is killed as well.
ProgramRun runProgram(const QString &program, const QStringList &arguments,
                      const QString &workingDirectory, const QStringList &environment,
                      std::chrono::milliseconds timeLimit, qsizetype maxOutput);

// The absolute path of `program` (as is when it contains a slash, else
// looked up in PATH); empty when there is no such executable.
QString findProgram(const QString &program);

} // namespace lesemund::docreaders
