#pragma once
// The pieces every document reader shares: the size limit of a document's
// text, the builder that collects paragraphs, code page decoding and the
// reader of plain text files.
//
// A document's text is its paragraphs, each ended by a carriage return
// (13), the last paragraph included. A document with no text is one empty
// paragraph: a single carriage return.
#include <QByteArray>
#include "docreaders/filehead.h"

#include <QString>
#include <QStringView>
#include <optional>

namespace lesemund::docreaders {

// What a reader returns is cut after this many characters (UTF-16 units);
// the cut is said by the notice below, which follows as a paragraph of its
// own.
inline constexpr qsizetype kDocumentTextLimit = 5'000'000;

// "[Der Text wurde nach 5 Millionen Zeichen abgeschnitten.]"
QString documentTruncationNotice();

// Why a document of a format the program reads itself gives no text. The
// reader then returns, instead of the document's text, a short message that
// says why, as the text's only paragraph (ended by a carriage return), so
// that the user hears it where the text would have been spoken:
// - Protected: "Dieses Dokument ist geschützt." (a password, encryption);
// - NoText: "Dieses Dokument enthält keinen Text." (a PDF of scanned pages);
// - TooBig: "Dieses Dokument ist zu groß zum Lesen." (a zip container whose
//   parts would inflate beyond the program's bounds);
// - Damaged: "Dieses Dokument ist beschädigt." (broken XML, a cut-off zip or
//   PDF).
enum class Unreadable { Protected, NoText, TooBig, Damaged };
QString unreadableDocumentText(Unreadable why);

// List numbers as word processors write them: 1, i, I, a, A (a..z, then aa..zz, ...).
QString romanNumber(int n, bool upper);
QString letterNumber(int n, bool upper);

// Collects a document's text paragraph by paragraph and keeps it under the
// limit. A list paragraph gets its label in front, the way LibreOffice's
// text export writes it: four blanks per list level (the first level has
// four), the label, one blank.
class DocumentTextBuilder {
public:
    explicit DocumentTextBuilder(qsizetype limit = kDocumentTextLimit);

    void append(QChar c);
    void append(QStringView text);
    // The list label of the paragraph being built ("2.", "a)", ...) and its
    // level (0 = first). An empty label means no list label.
    void setListLabel(const QString &label, int level);
    // A bullet for the paragraph being built. Whatever the document's bullet
    // character, the label is "•", "◦" or "▪" by level (first, second,
    // third, then again), as LibreOffice's text export writes bullets.
    void setBulletLabel(int level);
    // Ends the paragraph being built with a carriage return.
    void endParagraph();
    // Ends the paragraph being built only when it holds something.
    void endParagraphIfNotEmpty();
    bool paragraphEmpty() const { return paragraph_.isEmpty(); }

    // True once the text went beyond the limit; a reader stops reading then.
    bool full() const { return full_; }
    // Marks the text as cut although the limit was not reached here (the
    // source went on beyond what was read).
    void markCut() { cut_ = true; }

    // The text: an open paragraph with content is ended; an empty document
    // becomes one empty paragraph; a cut text is cut at the limit and the
    // notice follows.
    QString finish();

private:
    void checkLimit();
    void flushParagraph();

    qsizetype limit_;
    QString text_;
    QString paragraph_;
    QString label_;
    int labelLevel_ = 0;
    bool full_ = false;
    bool cut_ = false;
};

// Cuts `text` to `limit` characters (never inside a surrogate pair) and
// appends the notice, ended by a carriage return, as a paragraph of its own.
QString cutDocumentText(QString text, qsizetype limit = kDocumentTextLimit);

// Decodes 8-bit text of a Windows code page (1252, 1250, 1251, 932, ...).
// 1252 and unknown code pages are read as Windows-1252; a byte sequence the
// code page does not define becomes U+FFFD.
QString decodeCodePage(const QByteArray &bytes, int codePage);

// Turns text with CR LF, LF or CR line ends into paragraphs: every line end
// ends a paragraph; text after the last line end is a last paragraph that
// gets its mark; empty text is one empty paragraph.
QString plainTextToParagraphs(QStringView text, qsizetype limit = kDocumentTextLimit,
                              bool moreFollows = false);

// Reads a plain text file: a UTF-8 or UTF-16 byte order mark decides the
// encoding; otherwise valid UTF-8 is read as UTF-8 and anything else as
// Windows-1252. Only the first 4 * limit bytes of a big file are read (the
// encoding is judged on them). Returns nothing when `path` is no readable
// regular file.
std::optional<QString> readPlainTextDocument(const QString &path,
                                             qsizetype limit = kDocumentTextLimit);

// The same for text already in memory (a download, a program's output).
QString plainTextBytesToParagraphs(const QByteArray &bytes, qsizetype limit = kDocumentTextLimit,
                                   bool moreFollows = false);

// The same for bytes known to be UTF-8 (a program's output asked for in
// UTF-8): a broken sequence becomes U+FFFD instead of turning the whole text
// into Windows-1252; a surrogate pair written as two three-byte sequences
// (CESU-8, as catdoc writes characters beyond U+FFFF) is read as the pair.
QString utf8BytesToParagraphs(const QByteArray &bytes, qsizetype limit = kDocumentTextLimit,
                              bool moreFollows = false);


} // namespace lesemund::docreaders
