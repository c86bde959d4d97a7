#include "docreaders/rtfreader.h"

#include <QHash>

#include <algorithm>
#include <cstring>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace lesemund::docreaders {
namespace {

// An RTF file bigger than this is read only this far (pictures make such
// files; a text of five million characters fits many times over).
constexpr qint64 kMaxRtfBytes = 128LL * 1024 * 1024;
// Deeper groups share the state of the deepest one kept.
constexpr std::size_t kMaxDepth = 1000;
// The Windows code page number that stands for the Symbol font.
constexpr int kSymbolCodePage = 42;

enum class Dest : unsigned char { Text, Skip, FontTable, ListText };

struct Group {
    Dest dest = Dest::Text;
    int uc = 1;          // replacement characters after \uN
    int codePage = 1252; // for \'hh and raw 8-bit bytes
    int ilvl = 0;        // list level of the paragraph
    bool upr = false;    // inside \upr: only the \ud child is read
    bool uprChild = false;
    Dest uprResume = Dest::Text;
};

int codePageOfCharset(int charset, int ansiCodePage) {
    switch (charset) {
    case 0:
    case 1: return ansiCodePage;
    case 2: return kSymbolCodePage;
    case 77: return 10000;
    case 128: return 932;
    case 129: return 949;
    case 134: return 936;
    case 136: return 950;
    case 161: return 1253;
    case 162: return 1254;
    case 163: return 1258;
    case 177: return 1255;
    case 178: return 1256;
    case 186: return 1257;
    case 204: return 1251;
    case 222: return 874;
    case 238: return 1250;
    case 254: return 437;
    case 255: return 850;
    default: return ansiCodePage;
    }
}

// Destinations whose text is not part of the document's text.
bool isSkippedDestination(std::string_view word) {
    static const char *const kSkipped[] = {
        "colortbl", "stylesheet", "info", "header", "headerl", "headerr", "headerf",
        "footer", "footerl", "footerr", "footerf", "footnote", "annotation", "pict",
        "objdata", "objclass", "objname", "fldinst", "xe", "tc", "tcn", "txe", "rxe",
        "bkmkstart", "bkmkend", "listtable", "listoverridetable", "revtbl", "rsidtbl",
        "filetbl", "pgdsctbl", "shp", "shpinst", "shptxt", "shprslt", "nonshppict",
        "do", "xmlnstbl", "themedata", "colorschememapping", "latentstyles",
        "datastore", "generator", "template", "pn", "pnseclvl", "pntxta", "pntxtb",
        "atnid", "atnauthor", "atntime", "atnref", "atndate", "atnicn", "atrfstart",
        "atrfend", "protusertbl", "userprops", "docvar", "mmathPr", "wgrffmtfilter",
        "factoidname", "ftnsep", "ftnsepc", "ftncn", "aftnsep", "aftnsepc", "aftncn",
        "fldtype", "formfield", "datafield", "private", "keywords", "comment",
        "title", "subject", "author", "operator", "doccomm", "company", "manager",
        "category", "hlinkbase", "buptim", "creatim", "revtim", "printim", "falt",
        "panose", "fontemb", "fontfile", "blipuid", "picprop", "sp", "sn", "sv",
        "oldcprops", "oldpprops", "oldsprops", "oldtprops", "defchp", "defpap",
        "listpicture", "passwordhash", "xmlopen", "xmlattrname", "xmlattrvalue",
        "mhtmltag", "htmltag", "ebcstart", "ebcend", "fchars", "lchars",
        "lsdlockedexcept", "pgptbl", "ts", "tsrowd", "background", "bkmkcolf",
        "bkmkcoll", "svb", "macro", "nesttableprops", "nonesttables", "objalias",
        "objsect", "dptxbxtext", "gridtbl", "aftntj", "ftntj",
    };
    static const std::unordered_set<std::string_view> kSet(std::begin(kSkipped), std::end(kSkipped));
    return kSet.count(word) > 0;
}

QChar namedCharacter(std::string_view word) {
    static const std::unordered_map<std::string_view, char16_t> kNamed = {
        {"emdash", 0x2014},  {"endash", 0x2013},   {"emspace", 0x2003},
        {"enspace", 0x2002}, {"qmspace", 0x2005},  {"bullet", 0x2022},
        {"lquote", 0x2018},  {"rquote", 0x2019},   {"ldblquote", 0x201C},
        {"rdblquote", 0x201D}, {"zwj", 0x200D},    {"zwnj", 0x200C},
        {"zwbo", 0x200B},    {"ltrmark", 0x200E},  {"rtlmark", 0x200F},
        {"tab", 0x0009},
    };
    const auto it = kNamed.find(word);
    return it == kNamed.end() ? QChar() : QChar(it->second);
}

QString decodeBytes(const QByteArray &bytes, int codePage) {
    if (codePage == kSymbolCodePage) {
        QString out;
        for (char c : bytes) {
            const auto b = static_cast<unsigned char>(c);
            if (b == 0xB7)
                out.append(QChar(0x2022)); // the bullet of the Symbol font
            else if (b == 0xA7)
                out.append(QChar(0x25AA));
            else
                out.append(decodeCodePage(QByteArray(1, c), 1252));
        }
        return out;
    }
    return decodeCodePage(bytes, codePage);
}

class RtfParser {
public:
    RtfParser(const char *data, qsizetype size, qsizetype limit)
        : p_(data), n_(size), builder_(limit) {}

    QString run(bool inputCut);

private:
    Group &top() { return stack_.back(); }
    void openGroup();
    void closeGroup();
    void controlWord(std::string_view word, bool hasParam, long long param, bool star);
    void controlSymbol(char c);
    void text(QChar c);
    void text(QStringView s);
    void byte(char c);
    void flushBytes();
    void endParagraph();
    bool consumeReplacement();

    const char *p_;
    qsizetype n_;
    qsizetype i_ = 0;
    DocumentTextBuilder builder_;
    std::vector<Group> stack_;
    std::size_t overflow_ = 0; // groups opened beyond kMaxDepth
    int ansiCodePage_ = 1252;
    int defaultFont_ = 0;
    int fontTableFont_ = -1;
    QHash<int, int> fontCodePage_;
    QByteArray pendingBytes_;
    int pendingCodePage_ = 1252;
    Dest pendingDest_ = Dest::Text;
    int replacementsLeft_ = 0;
    bool starPending_ = false;
    QString listLabel_;
    QString paragraphLabel_;
    int footnotes_ = 0;
};

void RtfParser::openGroup() {
    flushBytes();
    replacementsLeft_ = 0;
    if (stack_.size() >= kMaxDepth) {
        ++overflow_;
        return;
    }
    Group g = top();
    g.upr = false;
    g.uprChild = false;
    if (top().upr) {
        // The first child of \upr holds the 8-bit text, the \ud child the
        // Unicode text: only the latter is read.
        g.uprChild = true;
        g.uprResume = top().dest;
        g.dest = Dest::Skip;
    }
    stack_.push_back(g);
}

void RtfParser::closeGroup() {
    flushBytes();
    replacementsLeft_ = 0;
    if (overflow_ > 0) {
        --overflow_;
        return;
    }
    if (stack_.size() <= 1)
        return; // an unbalanced brace: stay at the outermost level
    const Group closing = top();
    stack_.pop_back();
    if (closing.dest == Dest::ListText && top().dest != Dest::ListText) {
        paragraphLabel_ = listLabel_.trimmed();
        listLabel_.clear();
    }
}

void RtfParser::flushBytes() {
    if (pendingBytes_.isEmpty())
        return;
    const QString decoded = decodeBytes(pendingBytes_, pendingCodePage_);
    pendingBytes_.clear();
    const Dest d = pendingDest_;
    if (d == Dest::Text)
        builder_.append(decoded);
    else if (d == Dest::ListText)
        listLabel_.append(decoded);
}

void RtfParser::byte(char c) {
    if (consumeReplacement())
        return;
    if (top().dest != Dest::Text && top().dest != Dest::ListText)
        return;
    if (!pendingBytes_.isEmpty() &&
        (pendingCodePage_ != top().codePage || pendingDest_ != top().dest))
        flushBytes();
    pendingCodePage_ = top().codePage;
    pendingDest_ = top().dest;
    pendingBytes_.append(c);
}

void RtfParser::text(QChar c) {
    flushBytes();
    if (top().dest == Dest::Text)
        builder_.append(c);
    else if (top().dest == Dest::ListText)
        listLabel_.append(c);
}

void RtfParser::text(QStringView s) {
    flushBytes();
    if (top().dest == Dest::Text)
        builder_.append(s);
    else if (top().dest == Dest::ListText)
        listLabel_.append(s);
}

// Swallows one replacement character of a preceding \uN; true if it did.
bool RtfParser::consumeReplacement() {
    if (replacementsLeft_ <= 0)
        return false;
    --replacementsLeft_;
    return true;
}

void RtfParser::endParagraph() {
    flushBytes();
    if (top().dest != Dest::Text)
        return;
    // A label of one sign that is no letter or digit is a bullet.
    if (paragraphLabel_.size() == 1 && !paragraphLabel_.at(0).isLetterOrNumber())
        builder_.setBulletLabel(top().ilvl);
    else
        builder_.setListLabel(paragraphLabel_, top().ilvl);
    paragraphLabel_.clear();
    builder_.endParagraph();
}

void RtfParser::controlSymbol(char c) {
    if (c == '\'') {
        // \'hh: one byte in the current code page.
        auto hex = [](char h) -> int {
            if (h >= '0' && h <= '9') return h - '0';
            if (h >= 'a' && h <= 'f') return h - 'a' + 10;
            if (h >= 'A' && h <= 'F') return h - 'A' + 10;
            return -1;
        };
        int value = -1;
        if (i_ + 1 < n_) {
            const int hi = hex(p_[i_]), lo = hex(p_[i_ + 1]);
            if (hi >= 0 && lo >= 0) {
                value = hi * 16 + lo;
                i_ += 2;
            }
        }
        if (value >= 0)
            byte(char(value));
        return;
    }
    if (c == '*') {
        starPending_ = true;
        return;
    }
    if (consumeReplacement())
        return;
    switch (c) {
    case '\\':
    case '{':
    case '}':
        text(QChar(QLatin1Char(c)));
        break;
    case '~':
        text(QChar(0x00A0));
        break;
    case '_':
        text(QChar(0x2011));
        break;
    case '\r':
    case '\n':
        endParagraph(); // a backslash before a line end is a \par
        break;
    case '\t':
        text(QChar(9));
        break;
    default: // \- (optional hyphen), \| and \: (index entries): nothing
        break;
    }
}

void RtfParser::controlWord(std::string_view word, bool hasParam, long long param, bool star) {
    const int value = hasParam ? int(std::clamp<long long>(param, -2147483647LL, 2147483647LL)) : 0;

    if (star) {
        if (word == "ud" && top().uprChild) {
            flushBytes();
            top().dest = top().uprResume;
            top().uprChild = false;
            return;
        }
        if (word != "listtext" && word != "pntext") {
            flushBytes();
            top().dest = Dest::Skip;
            return;
        }
    }

    // Words that matter everywhere, also inside skipped destinations.
    if (word == "bin") {
        flushBytes();
        const long long skip = hasParam && param > 0 ? param : 0;
        i_ += qsizetype(std::min<long long>(skip, n_ - i_));
        return;
    }
    if (word == "uc") {
        top().uc = std::clamp(value, 0, 16);
        return;
    }
    if (word == "u") {
        if (consumeReplacement())
            return;
        int code = value;
        if (code < 0)
            code += 65536;
        if (code >= 0 && code <= 0xFFFF)
            text(QChar(char16_t(code)));
        replacementsLeft_ = top().uc;
        return;
    }

    if (top().dest == Dest::FontTable) {
        if (word == "f")
            fontTableFont_ = value;
        else if (word == "fcharset" && fontTableFont_ >= 0)
            fontCodePage_.insert(fontTableFont_, codePageOfCharset(value, ansiCodePage_));
        else if (word == "cpg" && fontTableFont_ >= 0 && value > 0)
            fontCodePage_.insert(fontTableFont_, value);
        else if (isSkippedDestination(word))
            top().dest = Dest::Skip;
        return;
    }
    if (top().dest == Dest::Skip)
        return;

    if (consumeReplacement())
        return;

    if (word == "par" || word == "line" || word == "cell" || word == "nestcell") {
        endParagraph();
        return;
    }
    if (word == "row" || word == "nestrow")
        return;
    if (word == "sect" || word == "page" || word == "column") {
        flushBytes();
        if (top().dest == Dest::Text && !builder_.paragraphEmpty())
            endParagraph();
        return;
    }
    const QChar named = namedCharacter(word);
    if (!named.isNull()) {
        text(named);
        return;
    }
    if (word == "chftn") {
        if (top().dest == Dest::Text)
            text(QString::number(++footnotes_));
        return;
    }
    if (word == "f") {
        flushBytes();
        top().codePage = fontCodePage_.value(value, ansiCodePage_);
        return;
    }
    if (word == "plain") {
        flushBytes();
        top().codePage = fontCodePage_.value(defaultFont_, ansiCodePage_);
        return;
    }
    if (word == "pard") {
        top().ilvl = 0;
        return;
    }
    if (word == "ilvl") {
        top().ilvl = std::clamp(value, 0, 8);
        return;
    }
    if (word == "listtext" || word == "pntext") {
        flushBytes();
        top().dest = Dest::ListText;
        listLabel_.clear();
        return;
    }
    if (word == "fonttbl") {
        flushBytes();
        top().dest = Dest::FontTable;
        return;
    }
    if (word == "upr") {
        top().upr = true;
        return;
    }
    if (word == "ansicpg") {
        if (value > 0)
            ansiCodePage_ = value;
        top().codePage = ansiCodePage_;
        return;
    }
    if (word == "ansi" || word == "mac" || word == "pc" || word == "pca") {
        ansiCodePage_ = word == "ansi" ? 1252 : word == "mac" ? 10000 : word == "pc" ? 437 : 850;
        top().codePage = ansiCodePage_;
        return;
    }
    if (word == "deff") {
        defaultFont_ = value;
        return;
    }
    if (isSkippedDestination(word)) {
        flushBytes();
        top().dest = Dest::Skip;
        return;
    }
    // Everything else is formatting.
}

QString RtfParser::run(bool inputCut) {
    stack_.reserve(64);
    stack_.push_back(Group{});
    // The outermost group is the document itself.
    while (i_ < n_ && (p_[i_] == ' ' || p_[i_] == '\r' || p_[i_] == '\n' || p_[i_] == '\t'))
        ++i_;
    if (i_ < n_ && p_[i_] == '{')
        ++i_;

    while (i_ < n_ && !builder_.full()) {
        const char c = p_[i_++];
        // \* applies to the control word right after it, and to nothing else.
        const bool star = starPending_;
        starPending_ = false;
        switch (c) {
        case '{':
            openGroup();
            break;
        case '}':
            closeGroup();
            break;
        case '\\': {
            if (i_ >= n_)
                break;
            const char d = p_[i_];
            const bool letter = (d >= 'a' && d <= 'z') || (d >= 'A' && d <= 'Z');
            if (!letter) {
                ++i_;
                controlSymbol(d);
                break;
            }
            const qsizetype start = i_;
            while (i_ < n_ && i_ - start < 32 &&
                   ((p_[i_] >= 'a' && p_[i_] <= 'z') || (p_[i_] >= 'A' && p_[i_] <= 'Z')))
                ++i_;
            const std::string_view word(p_ + start, size_t(i_ - start));
            bool hasParam = false;
            long long param = 0;
            bool negative = false;
            if (i_ < n_ && p_[i_] == '-' && i_ + 1 < n_ && p_[i_ + 1] >= '0' && p_[i_ + 1] <= '9') {
                negative = true;
                ++i_;
            }
            int digits = 0;
            while (i_ < n_ && p_[i_] >= '0' && p_[i_] <= '9') {
                if (digits < 12)
                    param = param * 10 + (p_[i_] - '0');
                ++digits;
                ++i_;
            }
            if (digits > 0) {
                hasParam = true;
                if (negative)
                    param = -param;
            }
            if (i_ < n_ && p_[i_] == ' ')
                ++i_;
            // \u with the following replacement characters is one unit;
            // everything else flushes pending bytes when it shows text.
            controlWord(word, hasParam, param, star);
            break;
        }
        case '\r':
        case '\n':
        case '\0':
            break;
        case '\t':
            if (!consumeReplacement())
                text(QChar(9));
            break;
        default:
            if (static_cast<unsigned char>(c) >= 0x80) {
                byte(c);
            } else if (static_cast<unsigned char>(c) >= 0x20) {
                if (!consumeReplacement()) {
                    if (top().dest == Dest::Text || top().dest == Dest::ListText)
                        text(QChar(QLatin1Char(c)));
                }
            }
            break;
        }
    }
    flushBytes();
    if (inputCut && i_ >= n_)
        builder_.markCut();
    return builder_.finish();
}

} // namespace

bool looksLikeRtf(const char *data, qsizetype size) {
    qsizetype i = 0;
    if (size >= 3 && std::memcmp(data, "\xEF\xBB\xBF", 3) == 0)
        i = 3;
    while (i < size && (data[i] == ' ' || data[i] == '\r' || data[i] == '\n' || data[i] == '\t'))
        ++i;
    return size - i >= 5 && std::memcmp(data + i, "{\\rtf", 5) == 0;
}

std::optional<QString> readRtf(const char *data, qsizetype size, qsizetype limit) {
    if (!data || !looksLikeRtf(data, size))
        return std::nullopt;
    qsizetype start = 0;
    while (start < size && data[start] != '{')
        ++start;
    RtfParser parser(data + start, size - start, limit);
    return parser.run(false);
}

std::optional<QString> readRtf(const QByteArray &data, qsizetype limit) {
    return readRtf(data.constData(), data.size(), limit);
}

std::optional<QString> readRtfFile(const QString &path, qsizetype limit) {
    const auto head = readFileHead(path, kMaxRtfBytes);
    if (!head || !looksLikeRtf(head->bytes.constData(), head->bytes.size()))
        return std::nullopt;
    const QByteArray &bytes = head->bytes;
    qsizetype start = 0;
    while (start < bytes.size() && bytes.at(start) != '{')
        ++start;
    RtfParser parser(bytes.constData() + start, bytes.size() - start, limit);
    return parser.run(head->more);
}

} // namespace lesemund::docreaders
