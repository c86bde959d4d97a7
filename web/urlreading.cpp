// Reading texts and documents from web addresses: the text fetcher, the
// address reader with its five-second check, and the address watcher.
#include "app/form1.h"

#include "platform/httpclient.h"
#include "texttools/textroutines.h"

#include <QCoreApplication>

namespace lesemund {

void Form1::FetchUrlText() {
    // One yield to pending window events; after it the fetch holds the
    // window, never longer than the client's time limits.
    QCoreApplication::processEvents();
    QString text;
    if (services_.http) {
        const platform::HttpResult result =
            services_.http->get(Furl->text(), platform::HttpClient::kTextLimit);
        if (result.ok)
            text = result.text();
    }
    Text3->setText(text);
}

void Form1::Command20_Click() { FetchUrlText(); }

void Form1::Command8_Click() {
    FetchUrlText();
    SpeakRequest(SpeechFile::Window, Text3->text(), true, true, SpeechButton::fenster1);
}

bool Form1::addressHas(const QString &marker) const {
    // The address holds the marker when replacing it changes the address.
    const QString address = Furl->text();
    QString copy = address;
    return ZeichenErsetzen(copy, marker, QStringLiteral("xxxx")) != address;
}

void Form1::forEachMarker(const std::function<void()> &text, const std::function<void()> &document,
                          const std::function<void()> &ok) {
    // Every row is tested: an address holding two markers runs two readers.
    // ".doc" also stands for ".docx"; the formats of today have rows of
    // their own.
    if (addressHas(QStringLiteral(".txt")))
        text();
    if (addressHas(QStringLiteral(".doc")))
        document();
    if (addressHas(QStringLiteral(".rtf")))
        document();
    if (addressHas(QStringLiteral(".odt")))
        document();
    if (addressHas(QStringLiteral(".pdf")))
        document();
    if (addressHas(QStringLiteral(".ok")))
        ok();
}

void Form1::Command14_Click() {
    forEachMarker([this] { Command8_Click(); }, [this] { Command18_Click(); },
                  [this] {
                      Command8_Click();
                      clickPage(QStringLiteral("user2"));
                  });
    // A second click while the check is armed does not restart it: the
    // check comes five seconds after the first click and looks at the
    // scratch field as it then stands.
    Timer5->start();
}

void Form1::Command18_Click() {
    ExtractDocumentText(Furl->text());
    SpeakRequest(SpeechFile::Text, Text3->text(), true, true, SpeechButton::ReadingMode);
}

void Form1::Command19_Click() { ExtractDocumentText(Furl->text()); }

void Form1::Timer5_Timer() {
    if (Text3->text().isEmpty()) {
        Label1->setCaption(QStringLiteral("Bei dieser URL Adresse habe ich nichts gefunden!"));
        Timer5->stop();
        for (const char *drive : {"C:", "D:", "E:", "F:", "G:"})
            if (addressHas(QString::fromLatin1(drive)))
                Label1->setCaption(QString::fromUtf8(
                    "Wenn von einem Datenträger aus gelesen werden soll. Dann sollte file:// vor dem "
                    "Laufwerksbuchstaben stehen!"));
    } else {
        Timer5->stop();
    }
}

void Form1::vergleich_Click() {
    if (vergleichsfeld->text() == Text3->text()) {
        forEachMarker([this] { Command20_Click(); }, [this] { Command19_Click(); }, [this] { Command20_Click(); });
        return;
    }
    vergleichsfeld->setText(Text3->text());
    SpeakRequest(SpeechFile::Text, Text3->text(), false, true, SpeechButton::user2);
}

} // namespace lesemund
