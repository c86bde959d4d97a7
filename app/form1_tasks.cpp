// The task window as the main window drives it.
#include "app/form1.h"

#include "platform/windowlist.h"
#include "tasks/ftask.h"

namespace lesemund {

Ftask *Form1::ftask() const { return ftask_; }

Ftask *Form1::taskWindow() {
    if (!ftask_ && services_.windows && services_.processes) {
        ftask_ = new Ftask(*services_.windows, *services_.processes, *services_.timers, Text1, lesemund);
        // "Ende" unloads the window; the next show request builds a fresh
        // one with an empty comparison field.
        ftask_->onUnload = [this] {
            Ftask *done = ftask_;
            ftask_ = nullptr;
            if (done)
                done->deleteLater();
        };
    }
    return ftask_;
}

void Form1::Command10_Click() {
    if (Ftask *task = taskWindow())
        task->showTask();
    // Where the desktop gives no way to read its windows, the user hears why
    // and what helps, once, the first time the active window is to be read.
    const QString notice = services_.windows ? services_.windows->unreadableNotice() : QString();
    if (!windowNoticeSaid_ && !notice.isEmpty()) {
        windowNoticeSaid_ = true;
        announceAlways(notice);
    }
}

void Form1::closeTaskWindow() {
    if (Ftask *task = taskWindow())
        task->closeFromMainWindow();
}

} // namespace lesemund
