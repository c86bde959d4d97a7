#include "platform/services.h"

#include "platform/atspiwindowlist.h"
#include "platform/curlhttpclient.h"
#include "platform/iniprofilestore.h"
#include "platform/linuxprocesscontrol.h"
#include "platform/qttimer.h"
#include "speech/speechpagehost.h"
#include "platform/xcbwindowlist.h"
#include "platform/xdgbrowserlauncher.h"
#include "platform/xdgshellopener.h"
#include "docreaders/documentreader.h"
#include "platform/readerwordprocessor.h"

namespace lesemund::platform {

WindowListKind sessionWindowList() {
    const QByteArray chosen = qgetenv("LESEMUND_FENSTERLISTE").trimmed().toLower();
    if (chosen == "atspi")
        return WindowListKind::AccessibilityBus;
    if (chosen == "x11")
        return WindowListKind::X11;
    const bool wayland = !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY") || qgetenv("XDG_SESSION_TYPE") == "wayland";
    return wayland ? WindowListKind::AccessibilityBus : WindowListKind::X11;
}

Services linuxServices(const QString &appFolder) {
    Services s;
    s.appFolder = appFolder;
    s.speechPage = std::make_shared<speech::SpeechPageHost>();
    s.profiles = std::make_shared<IniProfileStore>();
    s.timers = std::make_shared<QtTimerFactory>();
    s.shell = std::make_shared<XdgShellOpener>();
    if (sessionWindowList() == WindowListKind::AccessibilityBus)
        s.windows = std::make_shared<AtspiWindowList>();
    else
        s.windows = std::make_shared<XcbWindowList>();
    s.processes = std::make_shared<LinuxProcessControl>();
    auto http = std::make_shared<CurlHttpClient>();
    s.http = http;
    s.browser = std::make_shared<XdgBrowserLauncher>();
    // Documents on the web are downloaded with the same client (up to 20 MB)
    // and then read like local ones.
    auto word = std::make_shared<ReaderWordProcessorFactory>();
    word->setDownloader(httpDownloader(http));
    s.word = word;
    return s;
}

} // namespace lesemund::platform
