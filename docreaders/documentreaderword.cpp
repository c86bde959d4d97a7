#include "docreaders/documentreaderword.h"

#include "docreaders/codepage.h"

#include <QFile>
#include <QHash>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace lesemund::docreaders {
namespace {

constexpr unsigned char kCfbSignature[8] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};
constexpr std::uint32_t kEndOfChain = 0xFFFFFFFE;
constexpr std::uint32_t kMaxRegularSector = 0xFFFFFFFA;
// The table stream holds the piece table, the list tables and the
// paragraph property index; it is read whole, up to this size.
constexpr qint64 kMaxTableStream = 64LL * 1024 * 1024;

std::uint16_t u16(const char *p) {
    return std::uint16_t(static_cast<unsigned char>(p[0]) | (static_cast<unsigned char>(p[1]) << 8));
}
std::uint32_t u32(const char *p) {
    return std::uint32_t(static_cast<unsigned char>(p[0])) |
           (std::uint32_t(static_cast<unsigned char>(p[1])) << 8) |
           (std::uint32_t(static_cast<unsigned char>(p[2])) << 16) |
           (std::uint32_t(static_cast<unsigned char>(p[3])) << 24);
}

// Where the bytes come from: a file read piece by piece (a document changed
// while it is read gives a read failure, never a crash) or memory.
class ByteSource {
public:
    virtual ~ByteSource() = default;
    virtual qint64 size() const = 0;
    virtual bool read(qint64 offset, char *dst, qint64 length) const = 0;
};

class MemorySource : public ByteSource {
public:
    explicit MemorySource(const QByteArray &bytes) : bytes_(bytes) {}
    qint64 size() const override { return bytes_.size(); }
    bool read(qint64 offset, char *dst, qint64 length) const override {
        if (offset < 0 || length < 0 || offset > bytes_.size() || length > bytes_.size() - offset)
            return false;
        std::memcpy(dst, bytes_.constData() + offset, size_t(length));
        return true;
    }

private:
    const QByteArray &bytes_;
};

class FileSource : public ByteSource {
public:
    explicit FileSource(const QString &path) {
        if (!isReadableRegularFile(path))
            return;
        const QByteArray native = QFile::encodeName(path);
        fd_ = ::open(native.constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
        struct stat st {};
        if (fd_ >= 0 && (::fstat(fd_, &st) != 0 || !S_ISREG(st.st_mode))) {
            ::close(fd_);
            fd_ = -1;
        }
        if (fd_ >= 0)
            size_ = st.st_size;
    }
    ~FileSource() override {
        if (fd_ >= 0)
            ::close(fd_);
    }
    bool ok() const { return fd_ >= 0; }
    qint64 size() const override { return size_; }
    bool read(qint64 offset, char *dst, qint64 length) const override {
        if (fd_ < 0 || offset < 0 || length < 0 || offset > size_ || length > size_ - offset)
            return false;
        while (length > 0) {
            const ssize_t r = ::pread(fd_, dst, size_t(length), off_t(offset));
            if (r < 0 && errno == EINTR)
                continue;
            if (r <= 0)
                return false; // the file became shorter while it was read
            dst += r;
            offset += r;
            length -= r;
        }
        return true;
    }

private:
    int fd_ = -1;
    qint64 size_ = 0;
};

// ---------------------------------------------------------------------------
// The compound file: sectors, allocation tables, directory, streams.

struct Stream {
    std::vector<std::uint32_t> sectors;
    bool mini = false;
    qint64 size = 0;
};

class CompoundFile {
public:
    explicit CompoundFile(const ByteSource &source) : src_(source) { valid_ = load(); }
    bool valid() const { return valid_; }

    // A stream directly inside the root storage.
    std::optional<Stream> stream(const char *name) const;
    // Bytes [offset, offset + length) of a stream; false when out of range
    // or unreadable.
    bool read(const Stream &s, qint64 offset, qint64 length, char *dst) const;
    std::optional<QByteArray> readAll(const Stream &s, qint64 maxBytes) const;

private:
    bool load();
    bool readSector(std::uint32_t sector, char *dst) const {
        return sector < sectorCount_ &&
               src_.read((qint64(sector) + 1) << sectorShift_, dst, sectorSize_);
    }
    bool chain(std::uint32_t start, const std::vector<std::uint32_t> &table, std::uint32_t limit,
               std::vector<std::uint32_t> &out) const;

    const ByteSource &src_;
    bool valid_ = false;
    int sectorShift_ = 9;
    qint64 sectorSize_ = 512;
    std::uint32_t sectorCount_ = 0;
    std::uint32_t miniCutoff_ = 4096;
    std::vector<std::uint32_t> fat_;
    std::vector<std::uint32_t> miniFat_;
    Stream miniContainer_;
    QByteArray directory_;
};

bool CompoundFile::chain(std::uint32_t start, const std::vector<std::uint32_t> &table,
                         std::uint32_t limit, std::vector<std::uint32_t> &out) const {
    out.clear();
    std::uint32_t s = start;
    while (s != kEndOfChain) {
        if (s > kMaxRegularSector || s >= table.size() || s >= limit)
            return false;
        if (out.size() >= table.size())
            return false; // a loop
        out.push_back(s);
        s = table[s];
    }
    return true;
}

bool CompoundFile::load() {
    if (src_.size() < 512)
        return false;
    char header[512];
    if (!src_.read(0, header, 512) || std::memcmp(header, kCfbSignature, 8) != 0)
        return false;
    const std::uint16_t major = u16(header + 0x1A);
    sectorShift_ = u16(header + 0x1E);
    if (!((major == 3 && sectorShift_ == 9) || (major == 4 && sectorShift_ == 12)))
        return false;
    if (u16(header + 0x20) != 6)
        return false;
    sectorSize_ = qint64(1) << sectorShift_;
    const qint64 sectorsInFile = (src_.size() - sectorSize_ + sectorSize_ - 1) / sectorSize_;
    if (sectorsInFile <= 0)
        return false;
    sectorCount_ = std::uint32_t(std::min<qint64>(sectorsInFile, kMaxRegularSector));
    const std::uint32_t fatSectors = u32(header + 0x2C);
    const std::uint32_t firstDir = u32(header + 0x30);
    miniCutoff_ = u32(header + 0x38);
    const std::uint32_t firstMiniFat = u32(header + 0x3C);
    const std::uint32_t miniFatSectors = u32(header + 0x40);
    std::uint32_t difat = u32(header + 0x44);
    const std::uint32_t difatSectors = u32(header + 0x48);
    if (fatSectors == 0 || fatSectors > sectorCount_ || difatSectors > sectorCount_)
        return false;

    // The allocation table's sectors: 109 in the header, the rest in the
    // DIFAT chain.
    std::vector<std::uint32_t> fatList;
    for (int k = 0; k < 109 && fatList.size() < fatSectors; ++k)
        fatList.push_back(u32(header + 0x4C + 4 * k));
    QByteArray buffer(int(sectorSize_), Qt::Uninitialized);
    const int perSector = int(sectorSize_ / 4);
    for (std::uint32_t d = 0; d < difatSectors && fatList.size() < fatSectors; ++d) {
        if (!readSector(difat, buffer.data()))
            return false;
        for (int k = 0; k < perSector - 1 && fatList.size() < fatSectors; ++k)
            fatList.push_back(u32(buffer.constData() + 4 * k));
        difat = u32(buffer.constData() + 4 * (perSector - 1));
    }
    if (fatList.size() < fatSectors)
        return false;
    fat_.reserve(fatList.size() * std::size_t(perSector));
    for (std::uint32_t s : fatList) {
        if (!readSector(s, buffer.data()))
            return false;
        for (int k = 0; k < perSector; ++k)
            fat_.push_back(u32(buffer.constData() + 4 * k));
    }

    std::vector<std::uint32_t> sectors;
    if (!chain(firstDir, fat_, sectorCount_, sectors) || sectors.empty())
        return false;
    directory_.resize(qsizetype(sectors.size() * std::size_t(sectorSize_)));
    for (std::size_t k = 0; k < sectors.size(); ++k)
        if (!readSector(sectors[k], directory_.data() + qsizetype(k) * sectorSize_))
            return false;
    // The root entry: type 5; its stream is the mini stream container.
    if (static_cast<unsigned char>(directory_.at(0x42)) != 5)
        return false;
    if (miniFatSectors > 0 && firstMiniFat != kEndOfChain) {
        if (!chain(firstMiniFat, fat_, sectorCount_, sectors) || sectors.size() > miniFatSectors + 1u)
            return false;
        for (std::uint32_t s : sectors) {
            if (!readSector(s, buffer.data()))
                return false;
            for (int k = 0; k < perSector; ++k)
                miniFat_.push_back(u32(buffer.constData() + 4 * k));
        }
        const std::uint32_t rootStart = u32(directory_.constData() + 0x74);
        qint64 rootSize = qint64(u32(directory_.constData() + 0x78));
        if (!chain(rootStart, fat_, sectorCount_, miniContainer_.sectors))
            miniContainer_.sectors.clear();
        miniContainer_.size = std::min<qint64>(rootSize, qint64(miniContainer_.sectors.size()) * sectorSize_);
    }
    return true;
}

std::optional<Stream> CompoundFile::stream(const char *name) const {
    const qsizetype entries = directory_.size() / 128;
    auto entry = [&](std::uint32_t k) { return directory_.constData() + qsizetype(k) * 128; };
    const QString wanted = QString::fromLatin1(name);
    // Walk the root's children: a tree through the left and right links.
    std::vector<std::uint32_t> todo{u32(entry(0) + 0x4C)};
    std::vector<bool> seen(std::size_t(entries), false);
    while (!todo.empty()) {
        const std::uint32_t k = todo.back();
        todo.pop_back();
        if (k >= std::uint32_t(entries) || seen[k])
            continue;
        seen[k] = true;
        const char *e = entry(k);
        todo.push_back(u32(e + 0x44));
        todo.push_back(u32(e + 0x48));
        const int nameBytes = u16(e + 0x40);
        if (static_cast<unsigned char>(e[0x42]) != 2 || nameBytes < 2 || nameBytes > 64)
            continue;
        const QString entryName = QString(reinterpret_cast<const QChar *>(e), nameBytes / 2 - 1);
        if (entryName.compare(wanted, Qt::CaseInsensitive) != 0)
            continue;
        Stream s;
        s.size = qint64(u32(e + 0x78)); // version 3 files keep only 32 bits
        const std::uint32_t start = u32(e + 0x74);
        if (s.size == 0)
            return s;
        if (std::uint64_t(s.size) < miniCutoff_) {
            s.mini = true;
            if (!chain(start, miniFat_, std::uint32_t(miniContainer_.size / 64), s.sectors))
                return std::nullopt;
            if (qint64(s.sectors.size()) * 64 < s.size)
                return std::nullopt;
        } else {
            if (!chain(start, fat_, sectorCount_, s.sectors))
                return std::nullopt;
            if (qint64(s.sectors.size()) * sectorSize_ < s.size)
                return std::nullopt;
        }
        return s;
    }
    return std::nullopt;
}

bool CompoundFile::read(const Stream &s, qint64 offset, qint64 length, char *dst) const {
    if (offset < 0 || length < 0 || offset > s.size || length > s.size - offset)
        return false;
    const qint64 unit = s.mini ? 64 : sectorSize_;
    while (length > 0) {
        const qint64 index = offset / unit;
        const qint64 within = offset % unit;
        // Consecutive sectors are read in one go.
        qint64 run = 1;
        while (!s.mini && index + run < qint64(s.sectors.size()) &&
               s.sectors[std::size_t(index + run)] == s.sectors[std::size_t(index + run - 1)] + 1 &&
               (run * unit - within) < length)
            ++run;
        const qint64 take = std::min<qint64>(run * unit - within, length);
        const std::uint32_t sector = s.sectors[std::size_t(index)];
        if (s.mini) {
            if (!read(miniContainer_, qint64(sector) * 64 + within, take, dst))
                return false;
        } else {
            if (sector >= sectorCount_ || !src_.read(((qint64(sector) + 1) << sectorShift_) + within, dst, take))
                return false;
        }
        dst += take;
        offset += take;
        length -= take;
    }
    return true;
}

std::optional<QByteArray> CompoundFile::readAll(const Stream &s, qint64 maxBytes) const {
    if (s.size > maxBytes)
        return std::nullopt;
    QByteArray out(qsizetype(s.size), Qt::Uninitialized);
    if (!read(s, 0, s.size, out.data()))
        return std::nullopt;
    return out;
}

// ---------------------------------------------------------------------------
// The Word document.

struct ParagraphProps {
    bool rowEnd = false;      // the paragraph that ends a table row
    bool innerRowEnd = false; // the same in a table inside a table
    int ilfo = 0;             // list (1-based), 0 = none
    int ilvl = 0;
};

struct PropsRun {
    std::uint32_t fcStart = 0;
    std::uint32_t fcEnd = 0;
    ParagraphProps props;
};

struct Piece {
    std::uint32_t cpStart = 0;
    std::uint32_t cpEnd = 0;
    std::uint32_t fc = 0; // byte offset in the WordDocument stream
    bool compressed = false;
};

struct ListLevel {
    int startAt = 1;
    int nfc = 0;
    QString text; // placeholders 0..8 name the levels' numbers
};

struct ListDefinition {
    std::vector<ListLevel> levels;
};

// The size of a property's operand (after the two bytes of its code).
int operandSize(std::uint16_t sprm, const char *p, qsizetype left) {
    switch (sprm >> 13) {
    case 0:
    case 1: return 1;
    case 2:
    case 4:
    case 5: return 2;
    case 3: return 4;
    case 7: return 3;
    default: break;
    }
    if (left < 1)
        return -1;
    if (sprm == 0xD608 || sprm == 0xD606) { // table definitions: a 16-bit size
        if (left < 2)
            return -1;
        return int(u16(p)) + 1;
    }
    const int cb = static_cast<unsigned char>(p[0]);
    if (sprm == 0xC615 && cb == 255) { // tab changes in their long form
        if (left < 2)
            return -1;
        const int del = static_cast<unsigned char>(p[1]);
        const qsizetype addAt = 2 + 4 * qsizetype(del);
        if (left <= addAt)
            return -1;
        const int add = static_cast<unsigned char>(p[addAt]);
        return int(addAt + 1 + 3 * qsizetype(add));
    }
    return 1 + cb;
}

ParagraphProps parseParagraphProps(const char *p, qsizetype size) {
    ParagraphProps props;
    qsizetype i = 0;
    while (i + 2 <= size) {
        const std::uint16_t sprm = u16(p + i);
        i += 2;
        const int len = operandSize(sprm, p + i, size - i);
        if (len < 0 || i + len > size)
            break;
        const char *op = p + i;
        switch (sprm) {
        case 0x2417: props.rowEnd = len >= 1 && op[0] != 0; break;      // sprmPFTtp
        case 0x244C: props.innerRowEnd = len >= 1 && op[0] != 0; break; // sprmPFInnerTtp
        case 0x460B: props.ilfo = len >= 2 ? std::int16_t(u16(op)) : 0; break; // sprmPIlfo
        case 0x260A: props.ilvl = len >= 1 ? static_cast<unsigned char>(op[0]) : 0; break; // sprmPIlvl
        default: break;
        }
        i += len;
    }
    return props;
}

QString formatNumber(int n, int nfc) {
    switch (nfc) {
    case 1: return romanNumber(n, true);
    case 2: return romanNumber(n, false);
    case 3: return letterNumber(n, true);
    case 4: return letterNumber(n, false);
    case 22: return n < 10 ? QStringLiteral("0") + QString::number(n) : QString::number(n);
    default: return QString::number(n);
    }
}

// Symbol-font characters of bullets, as stored (U+F0xx), to Unicode.
QChar mapSymbolCharacter(char16_t c) {
    if (c < 0xF000 || c > 0xF0FF)
        return QChar(c);
    switch (c) {
    case 0xF0B7: return QChar(0x2022);
    case 0xF0A7: return QChar(0x25AA);
    case 0xF0D8: return QChar(0x27A2);
    case 0xF0FC: return QChar(0x2713);
    case 0xF06F: return QChar(0x25A1);
    default: return QChar(char16_t(c - 0xF000));
    }
}

class WordReader {
public:
    WordReader(const CompoundFile &cfb, qsizetype limit) : cfb_(cfb), builder_(limit) {}
    WordDocumentResult run();

private:
    bool fcLcb(int index, std::uint32_t &fc, std::uint32_t &lcb) const;
    bool loadPieces();
    void loadParagraphProps();
    void loadLists();
    void loadNoteMarks(int index, QHash<std::uint32_t, bool> &marks);
    const ParagraphProps *propsAt(std::uint32_t fc) const;
    // The label of a list paragraph (counting its number on); `bullet` is
    // set for a bulleted one.
    QString listLabel(const ParagraphProps &props, bool &bullet);
    void character(char16_t c, std::uint32_t cp, std::uint32_t fc);
    void paragraphMark(std::uint32_t fc, bool cellEnd);

    const CompoundFile &cfb_;
    DocumentTextBuilder builder_;
    Stream word_;
    QByteArray fib_;
    QByteArray table_;
    int rgFcLcbStart_ = 0;
    int rgFcLcbCount_ = 0;
    std::uint32_t ccpText_ = 0;
    std::vector<Piece> pieces_;
    std::vector<PropsRun> runs_;
    std::vector<ListDefinition> lists_;      // by position in the list table
    QHash<qint32, int> listByLsid_;          // list id -> position
    std::vector<qint32> lfoLsid_;            // list override (ilfo - 1) -> list id
    QHash<int, std::array<int, 9>> counters_; // ilfo -> current numbers
    QHash<std::uint32_t, bool> footnoteMarks_, endnoteMarks_;
    int footnotes_ = 0, endnotes_ = 0;
    std::vector<bool> fields_; // true once a field's result is reached
    int hiddenFields_ = 0;     // fields still in their instruction
};

bool WordReader::fcLcb(int index, std::uint32_t &fc, std::uint32_t &lcb) const {
    if (index >= rgFcLcbCount_)
        return false;
    const qsizetype at = rgFcLcbStart_ + qsizetype(index) * 8;
    if (at + 8 > fib_.size())
        return false;
    fc = u32(fib_.constData() + at);
    lcb = u32(fib_.constData() + at + 4);
    return true;
}

bool WordReader::loadPieces() {
    std::uint32_t fc = 0, lcb = 0;
    if (!fcLcb(33, fc, lcb) || lcb == 0 || qint64(fc) + lcb > table_.size())
        return false;
    const char *p = table_.constData() + fc;
    qsizetype i = 0;
    const qsizetype n = lcb;
    // Property lists of fast saves come first; the piece table follows.
    while (i < n && p[i] == 0x01) {
        if (i + 3 > n)
            return false;
        const int size = std::int16_t(u16(p + i + 1));
        if (size < 0)
            return false;
        i += 3 + size;
    }
    if (i + 5 > n || p[i] != 0x02)
        return false;
    const qsizetype size = u32(p + i + 1);
    i += 5;
    if (size < 4 || i + size > n || (size - 4) % 12 != 0)
        return false;
    const qsizetype count = (size - 4) / 12;
    const char *cps = p + i;
    const char *pcds = p + i + (count + 1) * 4;
    for (qsizetype k = 0; k < count; ++k) {
        Piece piece;
        piece.cpStart = u32(cps + 4 * k);
        piece.cpEnd = u32(cps + 4 * (k + 1));
        const std::uint32_t raw = u32(pcds + 8 * k + 2);
        piece.compressed = (raw & 0x40000000u) != 0;
        piece.fc = piece.compressed ? (raw & 0x3FFFFFFFu) / 2 : (raw & 0x3FFFFFFFu);
        if (piece.cpEnd > piece.cpStart)
            pieces_.push_back(piece);
    }
    std::sort(pieces_.begin(), pieces_.end(), [](const Piece &a, const Piece &b) { return a.cpStart < b.cpStart; });
    return !pieces_.empty();
}

void WordReader::loadParagraphProps() {
    std::uint32_t fc = 0, lcb = 0;
    if (!fcLcb(13, fc, lcb) || lcb < 12 || qint64(fc) + lcb > table_.size() || (lcb - 4) % 8 != 0)
        return;
    const char *p = table_.constData() + fc;
    const qsizetype count = (lcb - 4) / 8;
    // There cannot be more property pages than the text stream has pages.
    if (count > word_.size / 512 + 1)
        return;
    char fkp[512];
    for (qsizetype k = 0; k < count; ++k) {
        const std::uint32_t pn = u32(p + (count + 1) * 4 + 4 * k) & 0x3FFFFF;
        if (!cfb_.read(word_, qint64(pn) * 512, 512, fkp))
            continue;
        const int crun = static_cast<unsigned char>(fkp[511]);
        if (crun == 0 || 4 * (crun + 1) + 13 * crun > 511)
            continue;
        for (int r = 0; r < crun; ++r) {
            PropsRun run;
            run.fcStart = u32(fkp + 4 * r);
            run.fcEnd = u32(fkp + 4 * (r + 1));
            const int bOffset = static_cast<unsigned char>(fkp[4 * (crun + 1) + 13 * r]);
            if (bOffset != 0) {
                int at = bOffset * 2;
                int size = 0;
                if (at < 511) {
                    const int cb = static_cast<unsigned char>(fkp[at]);
                    if (cb == 0 && at + 1 < 511) {
                        size = 2 * static_cast<unsigned char>(fkp[at + 1]);
                        at += 2;
                    } else {
                        size = 2 * cb - 1;
                        at += 1;
                    }
                    // Two bytes of style number, then the properties.
                    if (size >= 2 && at + size <= 511)
                        run.props = parseParagraphProps(fkp + at + 2, size - 2);
                }
            }
            if (run.fcEnd > run.fcStart)
                runs_.push_back(run);
        }
    }
    std::sort(runs_.begin(), runs_.end(), [](const PropsRun &a, const PropsRun &b) { return a.fcStart < b.fcStart; });
}

const ParagraphProps *WordReader::propsAt(std::uint32_t fc) const {
    auto it = std::upper_bound(runs_.begin(), runs_.end(), fc,
                               [](std::uint32_t v, const PropsRun &r) { return v < r.fcStart; });
    if (it == runs_.begin())
        return nullptr;
    --it;
    return fc < it->fcEnd ? &it->props : nullptr;
}

void WordReader::loadLists() {
    std::uint32_t fcLst = 0, lcbLst = 0, fcLfo = 0, lcbLfo = 0;
    if (!fcLcb(73, fcLst, lcbLst) || !fcLcb(74, fcLfo, lcbLfo) || lcbLst < 2 || lcbLfo < 4)
        return;
    const qsizetype n = table_.size();
    const char *t = table_.constData();
    if (qint64(fcLst) + 2 > n)
        return;
    const int cLst = std::int16_t(u16(t + fcLst));
    if (cLst <= 0 || qint64(fcLst) + 2 + qint64(cLst) * 28 > n)
        return;
    std::vector<std::pair<qint32, bool>> headers; // list id, simple list
    for (int k = 0; k < cLst; ++k) {
        const char *lstf = t + fcLst + 2 + 28 * k;
        headers.emplace_back(qint32(u32(lstf)), (static_cast<unsigned char>(lstf[26]) & 1) != 0);
    }
    // The level definitions follow the list headers.
    qsizetype at = qsizetype(fcLst) + 2 + qsizetype(cLst) * 28;
    for (const auto &[lsid, simple] : headers) {
        ListDefinition def;
        const int levels = simple ? 1 : 9;
        for (int l = 0; l < levels; ++l) {
            if (at + 28 > n)
                return;
            ListLevel level;
            level.startAt = qint32(u32(t + at));
            level.nfc = static_cast<unsigned char>(t[at + 4]);
            const int cbChpx = static_cast<unsigned char>(t[at + 24]);
            const int cbPapx = static_cast<unsigned char>(t[at + 25]);
            at += 28 + cbPapx + cbChpx;
            if (at + 2 > n)
                return;
            const int cch = u16(t + at);
            at += 2;
            if (at + 2 * qsizetype(cch) > n)
                return;
            for (int c = 0; c < cch; ++c)
                level.text.append(mapSymbolCharacter(u16(t + at + 2 * c)));
            at += 2 * qsizetype(cch);
            def.levels.push_back(level);
        }
        listByLsid_.insert(lsid, int(lists_.size()));
        lists_.push_back(def);
    }
    if (qint64(fcLfo) + 4 > n)
        return;
    const qint32 lfoMac = qint32(u32(t + fcLfo));
    if (lfoMac <= 0 || qint64(fcLfo) + 4 + qint64(lfoMac) * 16 > n)
        return;
    for (qint32 k = 0; k < lfoMac; ++k)
        lfoLsid_.push_back(qint32(u32(t + fcLfo + 4 + 16 * k)));
}

void WordReader::loadNoteMarks(int index, QHash<std::uint32_t, bool> &marks) {
    std::uint32_t fc = 0, lcb = 0;
    if (!fcLcb(index, fc, lcb) || lcb < 4 || qint64(fc) + lcb > table_.size())
        return;
    const qsizetype count = (qsizetype(lcb) - 4) / 6;
    for (qsizetype k = 0; k < count; ++k)
        marks.insert(u32(table_.constData() + fc + 4 * k), true);
}

QString WordReader::listLabel(const ParagraphProps &props, bool &bullet) {
    bullet = false;
    if (props.ilfo <= 0 || props.ilfo > int(lfoLsid_.size()))
        return {};
    const auto found = listByLsid_.constFind(lfoLsid_[std::size_t(props.ilfo - 1)]);
    if (found == listByLsid_.constEnd())
        return {};
    const ListDefinition &def = lists_[std::size_t(found.value())];
    const int level = std::clamp(props.ilvl, 0, int(def.levels.size()) - 1);
    auto it = counters_.find(props.ilfo);
    if (it == counters_.end()) {
        std::array<int, 9> fresh;
        fresh.fill(-1);
        it = counters_.insert(props.ilfo, fresh);
    }
    auto &numbers = it.value();
    // This level counts on; the levels below start again.
    numbers[std::size_t(level)] = numbers[std::size_t(level)] < 0
                                      ? def.levels[std::size_t(level)].startAt
                                      : numbers[std::size_t(level)] + 1;
    for (std::size_t l = std::size_t(level) + 1; l < numbers.size(); ++l)
        numbers[l] = -1;
    const ListLevel &lvl = def.levels[std::size_t(level)];
    if (lvl.nfc == 23) { // a bullet
        bullet = true;
        return {};
    }
    QString label;
    for (QChar c : lvl.text) {
        const char16_t u = c.unicode();
        if (u < 9) {
            if (u >= def.levels.size())
                continue;
            const int value = numbers[u] < 0 ? def.levels[u].startAt : numbers[u];
            label += formatNumber(value, def.levels[u].nfc);
        } else {
            label += c;
        }
    }
    return label;
}

void WordReader::paragraphMark(std::uint32_t fc, bool cellEnd) {
    const ParagraphProps *props = propsAt(fc);
    if (props) {
        if (cellEnd && props->rowEnd)
            return; // the mark that ends a table row
        if (!cellEnd && props->innerRowEnd)
            return; // the same for a table inside a table
        bool bullet = false;
        const QString label = listLabel(*props, bullet);
        if (bullet)
            builder_.setBulletLabel(props->ilvl);
        else if (!label.isEmpty())
            builder_.setListLabel(label, props->ilvl);
    }
    builder_.endParagraph();
}

void WordReader::character(char16_t c, std::uint32_t cp, std::uint32_t fc) {
    // Fields: 19 begins one, 20 separates instruction and result, 21 ends it.
    if (c == 0x13) {
        fields_.push_back(false);
        ++hiddenFields_;
        return;
    }
    if (c == 0x14) {
        if (!fields_.empty() && !fields_.back()) {
            fields_.back() = true;
            --hiddenFields_;
        }
        return;
    }
    if (c == 0x15) {
        if (!fields_.empty()) {
            if (!fields_.back())
                --hiddenFields_;
            fields_.pop_back();
        }
        return;
    }
    if (hiddenFields_ > 0)
        return;
    switch (c) {
    case 0x0D:
        paragraphMark(fc, false);
        return;
    case 0x07:
        paragraphMark(fc, true);
        return;
    case 0x0B:
        builder_.endParagraph();
        return;
    case 0x0C:
    case 0x0E:
        builder_.endParagraphIfNotEmpty();
        return;
    case 0x09:
        builder_.append(QChar(9));
        return;
    case 0x1E:
        builder_.append(QChar(0x2011));
        return;
    case 0x02:
        if (endnoteMarks_.contains(cp) && !footnoteMarks_.contains(cp))
            builder_.append(romanNumber(++endnotes_, false));
        else
            builder_.append(QString::number(++footnotes_));
        return;
    default:
        break;
    }
    if (c < 0x20)
        return; // anchors of pictures, objects, comments; soft hyphens (31)
    builder_.append(QChar(c));
}

WordDocumentResult WordReader::run() {
    WordDocumentResult result;
    result.compoundFile = true;
    const auto word = cfb_.stream("WordDocument");
    if (!word) {
        result.encryptedPackage = cfb_.stream("EncryptedPackage").has_value();
        return result;
    }
    word_ = *word;
    const qint64 fibSize = std::min<qint64>(word_.size, 4096);
    if (fibSize < 0x5A)
        return result;
    fib_.resize(qsizetype(fibSize));
    if (!cfb_.read(word_, 0, fibSize, fib_.data()))
        return result;
    const char *f = fib_.constData();
    if (u16(f) != 0xA5EC)
        return result;
    const std::uint16_t nFib = u16(f + 2);
    const std::uint16_t flags = u16(f + 0x0A);
    if (flags & 0x0100) {
        result.encrypted = true;
        return result;
    }
    if (nFib < 0x00C1)
        return result; // Word 6 or 95
    // The variable parts of the file information block.
    qsizetype at = 0x20;
    const int csw = u16(f + at);
    at += 2 + 2 * qsizetype(csw);
    if (at + 2 > fib_.size())
        return result;
    const int cslw = u16(f + at);
    at += 2;
    if (cslw < 4 || at + 4 * qsizetype(cslw) + 2 > fib_.size())
        return result;
    ccpText_ = u32(f + at + 12);
    at += 4 * qsizetype(cslw);
    rgFcLcbCount_ = u16(f + at);
    rgFcLcbStart_ = int(at + 2);

    const auto table = cfb_.stream((flags & 0x0200) ? "1Table" : "0Table");
    if (!table)
        return result;
    const auto tableBytes = cfb_.readAll(*table, kMaxTableStream);
    if (!tableBytes)
        return result;
    table_ = *tableBytes;
    if (!loadPieces())
        return result;
    loadParagraphProps();
    loadLists();
    loadNoteMarks(2, footnoteMarks_);
    loadNoteMarks(46, endnoteMarks_);

    // The main document: characters [0, ccpText). A damaged piece table
    // could send the reader over the same bytes again and again: the work
    // is bounded.
    constexpr std::uint32_t kChunk = 32768;
    constexpr qint64 kMaxCharactersLookedAt = 64LL * 1024 * 1024;
    qint64 lookedAt = 0;
    QByteArray buffer;
    for (const Piece &piece : pieces_) {
        if (builder_.full() || lookedAt > kMaxCharactersLookedAt)
            break;
        const std::uint32_t from = piece.cpStart;
        const std::uint32_t to = std::min(piece.cpEnd, ccpText_);
        for (std::uint32_t cp = from; cp < to && !builder_.full();) {
            const std::uint32_t count = std::min(kChunk, to - cp);
            const int width = piece.compressed ? 1 : 2;
            const qint64 offset = qint64(piece.fc) + qint64(cp - from) * width;
            buffer.resize(qsizetype(count) * width);
            if (!cfb_.read(word_, offset, qint64(count) * width, buffer.data()))
                return result; // a piece outside the stream: a broken file
            // Two-byte pieces are UTF-16, little-endian like the host.
            const QString chars =
                piece.compressed ? codepage::fromAnsi(buffer)
                                 : QString(reinterpret_cast<const QChar *>(buffer.constData()), qsizetype(count));
            for (std::uint32_t k = 0; k < count; ++k)
                character(chars.at(k).unicode(), cp + k, std::uint32_t(offset + qint64(k) * width));
            cp += count;
            lookedAt += count;
            if (lookedAt > kMaxCharactersLookedAt) {
                builder_.markCut();
                break;
            }
        }
    }
    result.text = builder_.finish();
    return result;
}

} // namespace

bool looksLikeCompoundFile(const char *data, qsizetype size) {
    return size >= 8 && std::memcmp(data, kCfbSignature, 8) == 0;
}

WordDocumentResult readWordDocument(const QByteArray &data, qsizetype limit) {
    MemorySource source(data);
    CompoundFile cfb(source);
    if (!cfb.valid()) {
        WordDocumentResult r;
        r.compoundFile = looksLikeCompoundFile(data.constData(), data.size());
        return r;
    }
    return WordReader(cfb, limit).run();
}

WordDocumentResult readWordDocumentFile(const QString &path, qsizetype limit) {
    FileSource source(path);
    WordDocumentResult r;
    if (!source.ok())
        return r;
    char head[8];
    r.compoundFile = source.read(0, head, 8) && looksLikeCompoundFile(head, 8);
    if (!r.compoundFile)
        return r;
    CompoundFile cfb(source);
    if (!cfb.valid())
        return r;
    return WordReader(cfb, limit).run();
}

} // namespace lesemund::docreaders
