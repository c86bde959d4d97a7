#pragma once
// The platform services a window needs, handed to it from outside so that
// tests can build a window on a temporary data folder with doubles.
#include <QString>
#include <memory>

namespace lesemund::platform {

class BrowserControl;
class ProfileStore;
class TimerFactory;
class ShellOpener;
class WindowList;
class ProcessControl;
class HttpClient;
class WordProcessorFactory;
class BrowserLauncher;

struct Services {
    QString appFolder;                              // the executable's folder
    std::shared_ptr<BrowserControl> speechPage;     // `WebBrowser1`
    std::shared_ptr<ProfileStore> profiles;         // options and chat settings files
    std::shared_ptr<TimerFactory> timers;           // the windows' timers
    std::shared_ptr<ShellOpener> shell;             // open in the default program
    std::shared_ptr<WindowList> windows;            // the desktop's top-level windows
    std::shared_ptr<ProcessControl> processes;      // ending a listed window's process
    std::shared_ptr<HttpClient> http;               // fetching texts and documents
    std::shared_ptr<WordProcessorFactory> word;     // document text extraction
    std::shared_ptr<BrowserLauncher> browser;       // chat pages in a browser window

    QString dataFolder() const { return appFolder + QStringLiteral("/lesemund"); }
};

// The services of a Linux desktop for the program installed in `appFolder`.
Services linuxServices(const QString &appFolder);

// Which window list serves this session. LESEMUND_FENSTERLISTE=atspi or
// =x11 chooses; otherwise a Wayland session (WAYLAND_DISPLAY set, or
// XDG_SESSION_TYPE=wayland) is read through the accessibility bus and
// anything else through X11.
enum class WindowListKind { X11, AccessibilityBus };
WindowListKind sessionWindowList();

} // namespace lesemund::platform
