// speech-dispatcher through libspeechd in its threaded mode: libspeechd reads
// the service's answers and events on a thread of its own and hands the
// events to plain function pointers, which find their connection by the
// client number the service gave it.
#include "platform/desktopspeech.h"

#include <QList>

#include <libspeechd.h>

#include <csignal>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>

#include <pthread.h>

namespace lesemund::platform {

namespace {

// The connections that listen for events, by client number.
std::mutex g_listenersMutex;
std::map<std::size_t, DesktopSpeech::Listener> g_listeners;

void deliverTo(std::size_t message, std::size_t client, DesktopSpeech::Event event, const QString &mark) {
    std::lock_guard lock(g_listenersMutex);
    const auto it = g_listeners.find(client);
    if (it != g_listeners.end() && it->second)
        it->second(static_cast<int>(message), event, mark);
}

void deliverMark(std::size_t message, std::size_t client, SPDNotificationType, char *mark) {
    deliverTo(message, client, DesktopSpeech::Event::Mark, QString::fromUtf8(mark));
}

void deliver(std::size_t message, std::size_t client, SPDNotificationType type) {
    DesktopSpeech::Event event;
    switch (type) {
    case SPD_EVENT_BEGIN: event = DesktopSpeech::Event::Began; break;
    case SPD_EVENT_END: event = DesktopSpeech::Event::Ended; break;
    case SPD_EVENT_CANCEL: event = DesktopSpeech::Event::Cancelled; break;
    default: return;
    }
    deliverTo(message, client, event, {});
}

// libspeechd writes to its socket without guarding against SIGPIPE; a
// service that went away must not end the program. The signal is blocked in
// the thread that calls libspeechd (a write then fails with EPIPE), and
// libspeechd's event thread, started from it, inherits the mask.
void blockBrokenPipe() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

class SpeechDispatcher : public DesktopSpeech {
public:
    SpeechDispatcher(QByteArray address, bool autospawn) : address_(std::move(address)), autospawn_(autospawn) {}
    ~SpeechDispatcher() override { disconnect(); }

    bool connect(Listener listener) override {
        disconnect();
        blockBrokenPipe();
        char *error = nullptr;
        SPDConnectionAddress *address = nullptr;
        if (!address_.isEmpty())
            address = parseAddress(address_, &error);
        else
            address = spd_get_default_address(&error);
        std::free(error);
        error = nullptr;
        if (!address)
            return false;
        connection_ = spd_open2("tastvolk-lesemund", "speech", nullptr, SPD_MODE_THREADED, address, autospawn_ ? 1 : 0,
                                &error);
        SPDConnectionAddress__free(address);
        std::free(error);
        if (!connection_)
            return false;
        const int client = spd_set_language(connection_, "de") == 0 ? spd_get_client_id(connection_) : -1;
        if (client < 0) {
            disconnect();
            return false;
        }
        client_ = static_cast<std::size_t>(client);
        if (listener) {
            connection_->callback_begin = deliver;
            connection_->callback_end = deliver;
            connection_->callback_cancel = deliver;
            connection_->callback_im = deliverMark;
            {
                std::lock_guard lock(g_listenersMutex);
                g_listeners[client_] = std::move(listener);
            }
            listening_ = true;
            if (spd_set_notification_on(connection_, SPD_ALL) != 0) {
                disconnect();
                return false;
            }
        }
        dataMode_ = -1;
        return isConnected();
    }

    void disconnect() override {
        if (listening_) {
            std::lock_guard lock(g_listenersMutex);
            g_listeners.erase(client_);
            listening_ = false;
        }
        if (connection_) {
            spd_close(connection_);
            connection_ = nullptr;
        }
    }

    bool isConnected() const override {
        // libspeechd drops the stream as soon as it reads the end of the
        // connection (on its event thread).
        return connection_ && __atomic_load_n(&connection_->stream, __ATOMIC_ACQUIRE) != nullptr;
    }

    std::vector<Voice> voices() override {
        std::vector<Voice> result;
        if (!isConnected())
            return result;
        SPDVoice **list = spd_list_synthesis_voices(connection_);
        for (int i = 0; list && list[i]; ++i) {
            result.push_back(Voice{QString::fromUtf8(list[i]->name), QString::fromUtf8(list[i]->language),
                                   QString::fromUtf8(list[i]->variant)});
        }
        free_spd_voices(list);
        return result;
    }

    bool setProsody(int rate, int pitch, int volume) override {
        return isConnected() && spd_set_voice_rate(connection_, rate) == 0
               && spd_set_voice_pitch(connection_, pitch) == 0 && spd_set_volume(connection_, volume) == 0;
    }

    bool setVoice(const QString &name) override {
        return isConnected() && spd_set_synthesis_voice(connection_, name.toUtf8().constData()) == 0;
    }

    int speak(const QString &text, bool ssml) override {
        if (!isConnected())
            return -1;
        const int mode = ssml ? SPD_DATA_SSML : SPD_DATA_TEXT;
        if (mode != dataMode_) {
            if (spd_set_data_mode(connection_, static_cast<SPDDataMode>(mode)) != 0)
                return -1;
            dataMode_ = mode;
        }
        return spd_say(connection_, SPD_TEXT, text.toUtf8().constData());
    }

    bool cancel() override { return isConnected() && spd_cancel(connection_) == 0; }

private:
    // "unix_socket:/path", "unix_socket" (the session's socket),
    // "inet_socket:host[:port]".
    static SPDConnectionAddress *parseAddress(const QByteArray &text, char **error) {
        const QList<QByteArray> parts = text.split(':');
        auto *address = static_cast<SPDConnectionAddress *>(std::calloc(1, sizeof(SPDConnectionAddress)));
        if (parts.value(0) == "unix_socket") {
            if (parts.size() < 2) {
                std::free(address);
                return spd_get_default_address(error);
            }
            address->method = SPD_METHOD_UNIX_SOCKET;
            address->unix_socket_name = strdup(text.mid(text.indexOf(':') + 1).constData());
        } else if (parts.value(0) == "inet_socket") {
            address->method = SPD_METHOD_INET_SOCKET;
            address->inet_socket_host = strdup(parts.size() > 1 ? parts[1].constData() : "127.0.0.1");
            address->inet_socket_port = parts.size() > 2 ? parts[2].toInt() : SPEECHD_DEFAULT_PORT;
        } else {
            std::free(address);
            return nullptr;
        }
        return address;
    }

    QByteArray address_;
    bool autospawn_;
    SPDConnection *connection_ = nullptr;
    std::size_t client_ = 0;
    bool listening_ = false;
    int dataMode_ = -1;
};

} // namespace

std::unique_ptr<DesktopSpeech> makeSpeechDispatcher(const QByteArray &address, bool autospawn) {
    return std::make_unique<SpeechDispatcher>(address, autospawn);
}

} // namespace lesemund::platform
