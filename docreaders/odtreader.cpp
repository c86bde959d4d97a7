#include "docreaders/odtreader.h"

#include "docreaders/zipcontainer.h"

#include <QHash>
#include <QXmlStreamReader>
#include <array>
#include <vector>

namespace lesemund::docreaders {
namespace {

const QLatin1String kText("urn:oasis:names:tc:opendocument:xmlns:text:1.0");
const QLatin1String kStyle("urn:oasis:names:tc:opendocument:xmlns:style:1.0");
const QLatin1String kOffice("urn:oasis:names:tc:opendocument:xmlns:office:1.0");
constexpr int kLevels = 10;

struct ListLevel {
    bool bullet = false;
    QString format, prefix, suffix;
    int start = 1;
    int shown = 1; // how many levels the label shows (1.2.)
};
using ListStyles = QHash<QString, std::array<ListLevel, kLevels>>;

QString formatNumber(int n, const QString &format) {
    if (format == QLatin1String("i") || format == QLatin1String("I"))
        return romanNumber(n, format == QLatin1String("I"));
    if (format == QLatin1String("a") || format == QLatin1String("A"))
        return letterNumber(n, format == QLatin1String("A"));
    return QString::number(n);
}

class OdtReader {
public:
    explicit OdtReader(qsizetype limit) : builder_(limit) {}
    // A token of styles.xml or content.xml: list styles anywhere, text in
    // the body.
    bool token(QXmlStreamReader &x);
    QString finish() { return builder_.finish(); }

private:
    void listStyle(QXmlStreamReader &x);
    void startElement(QXmlStreamReader &x);
    void endElement(QXmlStreamReader &x);
    void characters(QStringView text);
    void listLabel();

    DocumentTextBuilder builder_;
    ListStyles styles_;
    QString styleName_; // of the list style being read
    int skip_ = 0;      // depth inside a part that gives no text
    bool inBody_ = false;
    int paragraphs_ = 0; // depth of paragraphs (a note's citation sits inside one)
    bool spaceBefore_ = true; // white space here is dropped (a blank came before)
    struct List {
        QString style;
    };
    std::vector<List> lists_;
    bool labelPending_ = false;
    struct Counters {
        std::array<int, kLevels> value{};
        std::array<bool, kLevels> started{};
    };
    QHash<QString, Counters> counters_; // per list style
};

bool OdtReader::token(QXmlStreamReader &x) {
    if (x.isStartElement()) {
        if (skip_ > 0)
            ++skip_;
        else if (x.namespaceUri() == kText && x.name().startsWith(QLatin1String("list-level-style")))
            listStyle(x);
        else if (x.namespaceUri() == kText && x.name() == QLatin1String("list-style") && !inBody_)
            styleName_ = x.attributes().value(kStyle, QLatin1String("name")).toString();
        else if (x.namespaceUri() == kOffice && x.name() == QLatin1String("text"))
            inBody_ = true;
        else if (inBody_)
            startElement(x);
    } else if (x.isEndElement()) {
        if (skip_ > 0)
            --skip_;
        else if (x.namespaceUri() == kOffice && x.name() == QLatin1String("text"))
            inBody_ = false;
        else if (inBody_)
            endElement(x);
    } else if (x.isCharacters() && inBody_ && skip_ == 0 && paragraphs_ > 0) {
        characters(x.text());
    }
    return !builder_.full();
}

void OdtReader::listStyle(QXmlStreamReader &x) {
    const auto a = x.attributes();
    const int level = a.value(kText, QLatin1String("level")).toInt() - 1;
    if (styleName_.isEmpty() || level < 0 || level >= kLevels)
        return;
    ListLevel &l = styles_[styleName_][level];
    l = ListLevel();
    l.bullet = x.name() != QLatin1String("list-level-style-number");
    l.format = a.value(kStyle, QLatin1String("num-format")).toString();
    l.prefix = a.value(kStyle, QLatin1String("num-prefix")).toString();
    l.suffix = a.value(kStyle, QLatin1String("num-suffix")).toString();
    if (a.hasAttribute(kText, QLatin1String("start-value")))
        l.start = a.value(kText, QLatin1String("start-value")).toInt();
    if (a.hasAttribute(kText, QLatin1String("display-levels")))
        l.shown = std::clamp(a.value(kText, QLatin1String("display-levels")).toInt(), 1, level + 1);
}

void OdtReader::startElement(QXmlStreamReader &x) {
    const auto ns = x.namespaceUri();
    const auto name = x.name();
    if (ns != kText) {
        // Frames, drawings, comments, forms give no text; tables and
        // wrappers of other namespaces are read through.
        static const char *const kNoText[] = {"urn:oasis:names:tc:opendocument:xmlns:drawing:1.0",
                                              "urn:oasis:names:tc:opendocument:xmlns:dr3d:1.0",
                                              "urn:oasis:names:tc:opendocument:xmlns:form:1.0"};
        for (const char *n : kNoText)
            if (ns == QLatin1String(n))
                skip_ = 1;
        if (ns == kOffice && name != QLatin1String("text"))
            skip_ = 1; // annotations, forms, event listeners
        return;
    }
    static const char *const kSkipped[] = {"note-body", "tracked-changes", "sequence-decls", "variable-decls",
                                           "user-field-decls", "dde-connection-decls", "ruby-text"};
    for (const char *s : kSkipped)
        if (name == QLatin1String(s)) {
            skip_ = 1;
            return;
        }
    const auto a = x.attributes();
    if (name == QLatin1String("list")) {
        List list;
        list.style = a.value(kText, QLatin1String("style-name")).toString();
        if (list.style.isEmpty() && !lists_.empty())
            list.style = lists_.back().style;
        if (lists_.empty()) {
            const bool goesOn = a.value(kText, QLatin1String("continue-numbering")) == QLatin1String("true") ||
                                a.hasAttribute(kText, QLatin1String("continue-list"));
            if (!goesOn)
                counters_[list.style] = Counters();
        }
        lists_.push_back(list);
    } else if (name == QLatin1String("list-item") && !lists_.empty()) {
        const int level = std::min(int(lists_.size()) - 1, kLevels - 1);
        const ListLevel l = styles_.value(lists_.back().style)[level];
        Counters &c = counters_[lists_.back().style];
        if (a.hasAttribute(kText, QLatin1String("start-value")))
            c.value[level] = a.value(kText, QLatin1String("start-value")).toInt();
        else
            c.value[level] = c.started[level] ? c.value[level] + 1 : l.start;
        c.started[level] = true;
        for (int deeper = level + 1; deeper < kLevels; ++deeper)
            c.started[deeper] = false;
        labelPending_ = true;
    } else if (name == QLatin1String("list-header")) {
        labelPending_ = false;
    } else if (name == QLatin1String("p") || name == QLatin1String("h")) {
        if (++paragraphs_ == 1) {
            if (labelPending_)
                listLabel();
            labelPending_ = false;
            spaceBefore_ = true;
        }
    } else if (paragraphs_ == 0) {
        return;
    } else if (name == QLatin1String("s")) {
        const int count = a.hasAttribute(kText, QLatin1String("c")) ? a.value(kText, QLatin1String("c")).toInt() : 1;
        builder_.append(QString(std::clamp(count, 1, 10000), QLatin1Char(' ')));
        spaceBefore_ = false;
    } else if (name == QLatin1String("tab")) {
        builder_.append(QLatin1Char('\t'));
        spaceBefore_ = false;
    } else if (name == QLatin1String("line-break")) {
        builder_.endParagraph();
        spaceBefore_ = true;
    }
}

void OdtReader::endElement(QXmlStreamReader &x) {
    if (x.namespaceUri() != kText)
        return;
    const auto name = x.name();
    if (name == QLatin1String("list") && !lists_.empty()) {
        lists_.pop_back();
    } else if ((name == QLatin1String("p") || name == QLatin1String("h")) && paragraphs_ > 0) {
        if (--paragraphs_ == 0)
            builder_.endParagraph();
    } else if (name == QLatin1String("list-item")) {
        labelPending_ = false;
    }
}

// Text in a paragraph: white space runs are one blank, none at the start.
void OdtReader::characters(QStringView text) {
    QString out;
    out.reserve(text.size());
    for (QChar c : text) {
        if (c == QLatin1Char(' ') || c == QLatin1Char('\t') || c == QLatin1Char('\n') || c == QLatin1Char('\r')) {
            if (!spaceBefore_)
                out += QLatin1Char(' ');
            spaceBefore_ = true;
        } else if (c != QChar(0x00AD)) {
            out += c;
            spaceBefore_ = false;
        }
    }
    builder_.append(out);
}

void OdtReader::listLabel() {
    const int level = std::min(int(lists_.size()) - 1, kLevels - 1);
    const auto style = styles_.constFind(lists_.back().style);
    if (level < 0 || style == styles_.cend())
        return;
    const ListLevel &l = (*style)[level];
    if (l.bullet) {
        builder_.setBulletLabel(level);
        return;
    }
    if (l.format.isEmpty())
        return;
    const Counters &c = counters_[lists_.back().style];
    QStringList numbers;
    for (int k = level - l.shown + 1; k <= level; ++k)
        numbers << formatNumber(c.started[k] ? c.value[k] : (*style)[k].start, (*style)[k].format);
    builder_.setListLabel(l.prefix + numbers.join(QLatin1Char('.')) + l.suffix, level);
}

} // namespace

bool isOdtContainer(ZipContainer &zip) {
    QByteArray mimetype;
    return zip.contains("content.xml") && zip.readAll("mimetype", mimetype, 200) == ZipStatus::Ok &&
           mimetype.trimmed() == "application/vnd.oasis.opendocument.text";
}

QString readOdt(ZipContainer &zip, qsizetype limit) {
    // An encrypted document says so in its manifest.
    QByteArray manifest;
    const ZipStatus m = zip.readAll("META-INF/manifest.xml", manifest, 4 * 1024 * 1024);
    if (m == ZipStatus::Ok && manifest.contains("encryption-data"))
        return unreadableDocumentText(Unreadable::Protected);
    if (m != ZipStatus::Ok && m != ZipStatus::Missing)
        return unreadableZipText(m);
    OdtReader reader(limit);
    const auto token = [&](QXmlStreamReader &x) { return reader.token(x); };
    ZipStatus status = zip.readXml("styles.xml", token);
    if (status == ZipStatus::Ok || status == ZipStatus::Missing)
        status = zip.readXml("content.xml", token);
    if (status != ZipStatus::Ok)
        return unreadableZipText(status);
    return reader.finish();
}

} // namespace lesemund::docreaders
