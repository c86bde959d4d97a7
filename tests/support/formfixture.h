#pragma once
// A main window on a temporary application folder, with a recording speech
// page, hand-fired timers and the real profile store. Header-only: only the
// window tests include it.
#include "app/form1.h"
#include "platform/iniprofilestore.h"
#include "support/doubles.h"
#include "support/fakehttpclient.h"
#include "support/fakeprocesscontrol.h"
#include "support/fakewindowlist.h"
#include "support/tempdatafolder.h"

#include <QApplication>
#include <memory>

namespace lesemund::testing {

struct FormFixture {
    explicit FormFixture(bool copyShipped = true,
                         std::function<void(platform::Services &)> adjust = {})
        : data(copyShipped) {
        page = std::make_shared<FakeBrowserControl>();
        timers = std::make_shared<ManualTimerFactory>();
        platform::Services s;
        s.appFolder = data.appFolder();
        s.speechPage = page;
        s.profiles = std::make_shared<platform::IniProfileStore>();
        s.timers = timers;
        shell = std::make_shared<RecordingShellOpener>();
        browser = std::make_shared<RecordingBrowserLauncher>();
        http = std::make_shared<FakeHttpClient>();
        windows = std::make_shared<FakeWindowList>();
        processes = std::make_shared<FakeProcessControl>();
        s.shell = shell;
        s.browser = browser;
        s.http = http;
        s.windows = windows;
        s.processes = processes;
        if (adjust)
            adjust(s);
        form = std::make_unique<Form1>(s);
        form->askSaveQuestion = [this] {
            ++questionsAsked;
            return answerYes;
        };
        form->endProcess = [this] { ++processEnds; };
    }

    // Shows the window and makes it the active one, so that focus events flow.
    void showActive() {
        form->show();
        QApplication::setActiveWindow(form.get());
        form->activateWindow();
        QApplication::processEvents();
    }

    ManualTimer &timer(int index) { return *timers->timers().at(index - 1); } // Timer1..Timer5
    QByteArray textFile() const { return data.read("text.txt"); }
    QByteArray windowFile() const { return data.read("fenster.txt"); }

    TempDataFolder data;
    std::shared_ptr<FakeBrowserControl> page;
    std::shared_ptr<ManualTimerFactory> timers;
    std::shared_ptr<RecordingShellOpener> shell;
    std::shared_ptr<RecordingBrowserLauncher> browser;
    std::shared_ptr<FakeHttpClient> http;
    std::shared_ptr<FakeWindowList> windows;
    std::shared_ptr<FakeProcessControl> processes;
    std::unique_ptr<Form1> form;
    bool answerYes = false;
    int questionsAsked = 0;
    int processEnds = 0;
};

} // namespace lesemund::testing
