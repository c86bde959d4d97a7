#pragma once
// The desktop's speech service (speech-dispatcher on Linux): the user's own
// output module and voices, configured once for the whole desktop. One
// connection; every call but the event listener comes from one thread, and
// most of them wait for the service's answer (connect() may even start the
// service first and take seconds), so they never run on the user-interface
// thread.
#include <QByteArray>
#include <QString>

#include <functional>
#include <memory>
#include <vector>

namespace lesemund::platform {

class DesktopSpeech {
public:
    struct Voice {
        QString name;
        QString language; // "de", "en-gb"
        QString variant;
    };
    // What the service tells about a message it was given: also when it
    // reaches a mark of an SSML message (<mark name="..."/>).
    enum class Event { Began, Ended, Cancelled, Mark };
    // Called on the service's own thread; must not call back into this object.
    // `mark` is the mark's name, empty for the other events.
    using Listener = std::function<void(int message, Event event, const QString &mark)>;

    virtual ~DesktopSpeech() = default;

    // Connects and sets the language to German; false when the service cannot
    // be reached. Connecting again replaces the connection (and with it every
    // setting made on it).
    virtual bool connect(Listener listener) = 0;
    virtual void disconnect() = 0;
    // False once the service went away (ended, crashed), or before connect().
    virtual bool isConnected() const = 0;

    // Every voice of the service's output modules; empty when it failed.
    // Slow: the service may take seconds to answer.
    virtual std::vector<Voice> voices() = 0;

    // Rate, pitch and volume on the service's scale, -100 to 100 (0 is its
    // default); the voice by one of the names voices() gave. False when the
    // service did not take them.
    virtual bool setProsody(int rate, int pitch, int volume) = 0;
    virtual bool setVoice(const QString &name) = 0;

    // Hands over a text (SSML when `ssml`), to be spoken after the messages
    // before it; its message number, or -1 when the service did not take it.
    virtual int speak(const QString &text, bool ssml) = 0;
    // Stops the message being spoken at once and drops the ones waiting.
    virtual bool cancel() = 0;
};

// Makes a new, unconnected service object, one for each connection wanted.
using DesktopSpeechFactory = std::function<std::unique_ptr<DesktopSpeech>()>;

// speech-dispatcher through libspeechd at `address` ("unix_socket:/path" or
// "inet_socket:host:port"; empty: SPEECHD_ADDRESS or the session's socket).
// With `autospawn`, a service that is not running is started by connect().
std::unique_ptr<DesktopSpeech> makeSpeechDispatcher(const QByteArray &address = {}, bool autospawn = true);

} // namespace lesemund::platform
