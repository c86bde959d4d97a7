#include "platform/services.h"

#include "platform/iniprofilestore.h"
#include "platform/qttimer.h"
#if __has_include("platform/speechpagehost.h")
#include "platform/speechpagehost.h"
#define HAVE_SPEECH_PAGE 1
#endif

namespace lesemund::platform {

Services linuxServices(const QString &appFolder) {
    Services s;
    s.appFolder = appFolder;
#ifdef HAVE_SPEECH_PAGE
    s.speechPage = std::make_shared<SpeechPageHost>();
#endif
    s.profiles = std::make_shared<IniProfileStore>();
    s.timers = std::make_shared<QtTimerFactory>();
    return s;
}

} // namespace lesemund::platform
