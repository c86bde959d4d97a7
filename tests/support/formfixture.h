#pragma once
// A main window on a temporary application folder, with a recording speech
// page, hand-fired timers, the real profile store and fakes for the rest.
#include "app/form1.h"
#include "platform/iniprofilestore.h"
#include "support/doubles.h"
#include "support/fakehttpclient.h"
#include "support/fakeprocesscontrol.h"
#include "support/fakewindowlist.h"
#include "support/tempdatafolder.h"

#include <QApplication>

namespace lesemund::testing {

struct FormFixture {
    explicit FormFixture(bool copyShipped = true, std::function<void(platform::Services &)> adjust = {})
        : data(copyShipped) {
        platform::Services s{data.appFolder(), page, std::make_shared<platform::IniProfileStore>(), timers, shell,
                             windows, processes, http, {}, browser};
        if (adjust)
            adjust(s);
        form = std::make_unique<Form1>(s);
        form->askSaveQuestion = [this] { ++questionsAsked; return answerYes; };
        form->endProcess = [this] { ++processEnds; };
    }
    // Shows the window and makes it the active one, so that focus events flow.
    void showActive() {
        form->show();
        QApplication::setActiveWindow(form.get());
        form->activateWindow();
        QApplication::processEvents();
    }
    ManualTimer &timer(int n) { return *timers->timers().at(n - 1); } // Timer1..Timer5
    QByteArray textFile() const { return data.read("text.txt"); }
    QByteArray windowFile() const { return data.read("fenster.txt"); }

    TempDataFolder data;
    std::shared_ptr<FakeBrowserControl> page = std::make_shared<FakeBrowserControl>();
    std::shared_ptr<ManualTimerFactory> timers = std::make_shared<ManualTimerFactory>();
    std::shared_ptr<RecordingShellOpener> shell = std::make_shared<RecordingShellOpener>();
    std::shared_ptr<RecordingBrowserLauncher> browser = std::make_shared<RecordingBrowserLauncher>();
    std::shared_ptr<FakeHttpClient> http = std::make_shared<FakeHttpClient>();
    std::shared_ptr<FakeWindowList> windows = std::make_shared<FakeWindowList>();
    std::shared_ptr<FakeProcessControl> processes = std::make_shared<FakeProcessControl>();
    std::unique_ptr<Form1> form;
    bool answerYes = false;
    int questionsAsked = 0, processEnds = 0;
};

} // namespace lesemund::testing
