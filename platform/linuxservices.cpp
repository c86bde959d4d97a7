#include "platform/services.h"

#include "platform/curlhttpclient.h"
#include "platform/iniprofilestore.h"
#include "platform/linuxprocesscontrol.h"
#include "platform/qttimer.h"
#include "platform/speechpagehost.h"
#include "platform/xcbwindowlist.h"
#include "platform/xdgbrowserlauncher.h"
#include "platform/xdgshellopener.h"
#if __has_include("platform/readerwordprocessor.h")
#include "platform/readerwordprocessor.h"
#define HAVE_READER_WORD_PROCESSOR 1
#endif

namespace lesemund::platform {

Services linuxServices(const QString &appFolder) {
    Services s;
    s.appFolder = appFolder;
    s.speechPage = std::make_shared<SpeechPageHost>();
    s.profiles = std::make_shared<IniProfileStore>();
    s.timers = std::make_shared<QtTimerFactory>();
    s.shell = std::make_shared<XdgShellOpener>();
    s.windows = std::make_shared<XcbWindowList>();
    s.processes = std::make_shared<LinuxProcessControl>();
    auto http = std::make_shared<CurlHttpClient>();
    s.http = http;
    s.browser = std::make_shared<XdgBrowserLauncher>();
#ifdef HAVE_READER_WORD_PROCESSOR
    s.word = std::make_shared<ReaderWordProcessorFactory>();
#endif
    return s;
}

} // namespace lesemund::platform
