#pragma once
// A private speech-dispatcher for tests and benchmarks: its own configuration,
// socket and logs in a folder of its own, the espeak-ng module speaking German
// into a private PulseAudio. Never the session's service; killed with the test.
#include "support/pulseserver.h"

#include <QDir>

namespace lesemund::testing {

class SpeechDispatcherServer {
public:
    ~SpeechDispatcherServer() { stop(); }
    // Starts the service and waits for its socket.
    bool start(const PulseServer &pulse, QString *error = nullptr) {
        const QByteArray d = QFile::encodeName(dir_.path()), log = d + "/server.log";
        QDir().mkpath(dir_.filePath("conf/modules"));
        QFile::copy("/etc/speech-dispatcher/modules/espeak-ng.conf", dir_.filePath("conf/modules/espeak-ng.conf"));
        if (QFile conf(dir_.filePath("conf/speechd.conf")); conf.open(QIODevice::WriteOnly))
            conf.write("LogLevel 2\nLogDir \"" + d + "\"\nAudioOutputMethod \"pulse\"\nAudioPulseServer \"" + pulse.address()
                       + "\"\nDefaultLanguage \"de\"\nDefaultModule espeak-ng\n"
                         "AddModule \"espeak-ng\" \"sd_espeak-ng\" \"espeak-ng.conf\"\n");
        const QByteArray conf = d + "/conf", sock = d + "/sock", pid = d + "/pid", home = "HOME=" + d;
        const QByteArray server = "PULSE_SERVER=" + pulse.address();
        const char *argv[] = {"/usr/bin/speech-dispatcher", "-s", "-t", "0", "-C", conf, "-c", "unix_socket", "-S", sock,
                              "-P", pid, "-L", d, nullptr};
        const char *envp[] = {home, server, "PATH=/usr/bin:/bin", nullptr};
        if ((pid_ = spawnTestServer(argv, envp, log)) > 0 && waitFor([&] { return QFile::exists(sock); }, std::chrono::seconds(10)))
            return true;
        stop();
        if (error)
            *error = "speech-dispatcher did not start; see " + log;
        return false;
    }
    void stop() {
        if (pid_ > 0 && ::kill(pid_, SIGTERM) == 0) // it ends its modules
            reapTestServer(pid_, std::chrono::seconds(5));
        pid_ = -1;
        QFile::remove(dir_.filePath("sock"));
    }
    QByteArray address() const { return "unix_socket:" + QFile::encodeName(dir_.path()) + "/sock"; }

private:
    QTemporaryDir dir_;
    pid_t pid_ = -1;
};

} // namespace lesemund::testing
