#include "docreaders/docxreader.h"

#include "docreaders/zipcontainer.h"

#include <QHash>
#include <QXmlStreamReader>
#include <array>
#include <vector>

namespace lesemund::docreaders {
namespace {

const QLatin1String kMain("http://schemas.openxmlformats.org/wordprocessingml/2006/main");
const QLatin1String kStrict("http://purl.oclc.org/ooxml/wordprocessingml/main");
constexpr int kLevels = 9;

bool isWord(const QXmlStreamReader &x) { return x.namespaceUri() == kMain || x.namespaceUri() == kStrict; }

QString wordAttribute(const QXmlStreamReader &x, const char *name) {
    for (const QXmlStreamAttribute &a : x.attributes())
        if (a.name() == QLatin1String(name) && (a.namespaceUri() == kMain || a.namespaceUri() == kStrict))
            return a.value().toString();
    return {};
}

struct Level {
    int start = 1;
    QString format = QStringLiteral("decimal");
    QString text;
};

struct Numbering {
    QHash<int, std::array<Level, kLevels>> abstracts;
    struct Instance {
        int abstractId = -1;
        QHash<int, int> startOverrides;
    };
    QHash<int, Instance> instances;
};

QString formatNumber(int n, const QString &format) {
    if (format == QLatin1String("lowerRoman") || format == QLatin1String("upperRoman"))
        return romanNumber(n, format.startsWith(QLatin1Char('u')));
    if (format == QLatin1String("lowerLetter") || format == QLatin1String("upperLetter"))
        return letterNumber(n, format.startsWith(QLatin1Char('u')));
    if (format == QLatin1String("decimalZero") && n < 10)
        return QLatin1Char('0') + QString::number(n);
    return QString::number(n);
}

// word/numbering.xml: the abstract list definitions and the numbered
// instances that use them.
ZipStatus readNumbering(ZipContainer &zip, Numbering &numbering) {
    int abstractId = -1, level = -1, instanceId = -1, overrideLevel = -1;
    return zip.readXml("word/numbering.xml", [&](QXmlStreamReader &x) {
        if (!x.isStartElement() || !isWord(x))
            return true;
        const auto name = x.name();
        const QString val = wordAttribute(x, "val");
        if (name == QLatin1String("abstractNum")) {
            abstractId = wordAttribute(x, "abstractNumId").toInt();
            instanceId = -1;
            numbering.abstracts[abstractId] = {};
        } else if (name == QLatin1String("num")) {
            instanceId = wordAttribute(x, "numId").toInt();
            abstractId = -1;
        } else if (name == QLatin1String("lvl")) {
            level = wordAttribute(x, "ilvl").toInt();
        } else if (name == QLatin1String("lvlOverride")) {
            overrideLevel = wordAttribute(x, "ilvl").toInt();
        } else if (instanceId >= 0) {
            if (name == QLatin1String("abstractNumId"))
                numbering.instances[instanceId].abstractId = val.toInt();
            else if (name == QLatin1String("startOverride"))
                numbering.instances[instanceId].startOverrides[overrideLevel] = val.toInt();
        } else if (abstractId >= 0 && level >= 0 && level < kLevels) {
            Level &l = numbering.abstracts[abstractId][level];
            if (name == QLatin1String("start"))
                l.start = val.toInt();
            else if (name == QLatin1String("numFmt"))
                l.format = val;
            else if (name == QLatin1String("lvlText"))
                l.text = val;
        }
        return true;
    });
}

class DocxReader {
public:
    DocxReader(const Numbering &numbering, qsizetype limit) : numbering_(numbering), builder_(limit) {}
    bool token(QXmlStreamReader &x);
    QString finish() { return builder_.finish(); }

private:
    void startElement(QXmlStreamReader &x);
    void endElement(QXmlStreamReader &x);
    void listLabel();
    bool showing() const { return runs_ > 0 && hiddenFields_ == 0; }
    // A page or column break ends its paragraph only when text follows.
    void append(QStringView text) {
        if (breakPending_)
            builder_.endParagraphIfNotEmpty();
        breakPending_ = false;
        builder_.append(text);
    }

    const Numbering &numbering_;
    DocumentTextBuilder builder_;
    int skip_ = 0;          // depth inside a part that gives no text
    int runs_ = 0;          // depth of runs
    bool inText_ = false;   // inside w:t
    bool inNumPr_ = false;
    bool breakPending_ = false;
    int numId_ = 0, ilvl_ = 0;
    std::vector<bool> fields_; // per open field: its result is showing
    int hiddenFields_ = 0;     // open fields still in their instruction
    int footnotes_ = 0, endnotes_ = 0;
    struct Counters {
        std::array<int, kLevels> value{};
        std::array<bool, kLevels> started{};
    };
    QHash<int, Counters> counters_;
};

bool DocxReader::token(QXmlStreamReader &x) {
    if (x.isStartElement()) {
        if (skip_ > 0 || !isWord(x))
            ++skip_;
        else
            startElement(x);
    } else if (x.isEndElement()) {
        if (skip_ > 0)
            --skip_;
        else
            endElement(x);
    } else if (x.isCharacters() && inText_ && skip_ == 0 && showing()) {
        append(x.text());
    }
    return !builder_.full();
}

void DocxReader::startElement(QXmlStreamReader &x) {
    const auto name = x.name();
    static const char *const kSkipped[] = {"pPrChange", "rPrChange", "sectPr", "tblPr", "trPr", "tcPr",
                                           "numberingChange", "moveFrom", "txbxContent", "drawing",
                                           "pict", "object", "fldData", "instrText", "delText"};
    for (const char *s : kSkipped)
        if (name == QLatin1String(s)) {
            skip_ = 1;
            return;
        }
    if (name == QLatin1String("r")) {
        ++runs_;
    } else if (name == QLatin1String("t")) {
        inText_ = true;
    } else if (name == QLatin1String("numPr")) {
        inNumPr_ = true;
    } else if (inNumPr_ && name == QLatin1String("numId")) {
        numId_ = wordAttribute(x, "val").toInt();
    } else if (inNumPr_ && name == QLatin1String("ilvl")) {
        ilvl_ = wordAttribute(x, "val").toInt();
    } else if (name == QLatin1String("fldChar")) {
        const QString type = wordAttribute(x, "fldCharType");
        if (type == QLatin1String("begin")) {
            fields_.push_back(false);
            ++hiddenFields_;
        } else if (type == QLatin1String("separate") && !fields_.empty() && !fields_.back()) {
            fields_.back() = true;
            --hiddenFields_;
        } else if (type == QLatin1String("end") && !fields_.empty()) {
            if (!fields_.back())
                --hiddenFields_;
            fields_.pop_back();
        }
    } else if (!showing()) {
        return;
    } else if (name == QLatin1String("tab")) {
        append(u"\t");
    } else if (name == QLatin1String("br")) {
        const QString type = wordAttribute(x, "type");
        if (type.isEmpty() || type == QLatin1String("textWrapping"))
            builder_.endParagraph();
        else
            breakPending_ = true;
    } else if (name == QLatin1String("cr")) {
        builder_.endParagraph();
    } else if (name == QLatin1String("noBreakHyphen")) {
        append(u"\u2011");
    } else if (name == QLatin1String("footnoteReference") || name == QLatin1String("endnoteReference")) {
        const bool foot = name == QLatin1String("footnoteReference");
        const int n = foot ? ++footnotes_ : ++endnotes_;
        const QString custom = wordAttribute(x, "customMarkFollows");
        if (custom == QLatin1String("1") || custom == QLatin1String("true") || custom == QLatin1String("on"))
            return; // the mark follows as text
        append(foot ? QString::number(n) : romanNumber(n, false));
    }
}

void DocxReader::endElement(QXmlStreamReader &x) {
    const auto name = x.name();
    if (name == QLatin1String("r")) {
        --runs_;
    } else if (name == QLatin1String("t")) {
        inText_ = false;
    } else if (name == QLatin1String("numPr")) {
        inNumPr_ = false;
    } else if (name == QLatin1String("pPr")) {
        listLabel();
    } else if (name == QLatin1String("p")) {
        builder_.endParagraph();
        numId_ = ilvl_ = 0;
        breakPending_ = false;
    }
}

// The label of a list paragraph; its counter goes on and the counters of
// the deeper levels start again.
void DocxReader::listLabel() {
    const auto instance = numbering_.instances.constFind(numId_);
    if (numId_ == 0 || ilvl_ < 0 || ilvl_ >= kLevels || instance == numbering_.instances.cend())
        return;
    const auto abstract = numbering_.abstracts.constFind(instance->abstractId);
    if (abstract == numbering_.abstracts.cend())
        return;
    const std::array<Level, kLevels> &levels = *abstract;
    Counters &c = counters_[numId_];
    c.value[ilvl_] = c.started[ilvl_] ? c.value[ilvl_] + 1 : instance->startOverrides.value(ilvl_, levels[ilvl_].start);
    c.started[ilvl_] = true;
    for (int deeper = ilvl_ + 1; deeper < kLevels; ++deeper)
        c.started[deeper] = false;
    const QString &format = levels[ilvl_].format;
    if (format == QLatin1String("bullet")) {
        builder_.setBulletLabel(ilvl_);
        return;
    }
    if (format == QLatin1String("none"))
        return;
    QString label;
    const QString &text = levels[ilvl_].text;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const int k = i + 1 < text.size() && text[i] == QLatin1Char('%') ? text[i + 1].digitValue() : -1;
        if (k >= 1 && k <= kLevels) {
            label += formatNumber(c.started[k - 1] ? c.value[k - 1] : levels[k - 1].start, levels[k - 1].format);
            ++i;
        } else {
            label += text[i];
        }
    }
    builder_.setListLabel(label, ilvl_);
}

} // namespace

QString readDocx(ZipContainer &zip, qsizetype limit) {
    Numbering numbering;
    const ZipStatus lists = readNumbering(zip, numbering);
    if (lists != ZipStatus::Ok && lists != ZipStatus::Missing)
        return unreadableZipText(lists);
    DocxReader reader(numbering, limit);
    const ZipStatus status = zip.readXml("word/document.xml", [&](QXmlStreamReader &x) { return reader.token(x); });
    if (status != ZipStatus::Ok)
        return unreadableZipText(status);
    return reader.finish();
}

} // namespace lesemund::docreaders
