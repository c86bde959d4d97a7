#include "app/scratchfield.h"

#include <QKeyEvent>
#include <QMimeData>
#include <QSignalBlocker>
#include <QTextBlock>
#include <QTextBoundaryFinder>
#include <QTextCursor>
#include <QTextDocument>

#include <algorithm>
#include <vector>

namespace lesemund {

namespace {

// The block property of a paragraph that continues the line of the one
// before it. A block format survives undo and redo with its paragraph.
constexpr int kContinuesLine = QTextFormat::UserProperty + 1;

bool continuesLine(const QTextBlock &block) {
    return block.isValid() && block.blockFormat().boolProperty(kContinuesLine);
}

// The characters that end a line: the ones the document itself would turn
// into a paragraph break.
bool endsLine(QChar c) {
    return c == u'\r' || c == u'\n' || c == QChar::ParagraphSeparator || c == QChar(0xFDD0) ||
           c == QChar(0xFDD1);
}

// How much of `rest`, which is longer than `room`, goes into one piece: up
// to and including the last blank in the second half of the room, else as
// much as fits without parting a character from its marks.
qsizetype pieceLength(QStringView rest, qsizetype room) {
    for (qsizetype i = room; i > room / 2; --i)
        if (rest[i - 1].isSpace())
            return i;
    // Characters are decided by their neighbours: a few either side do.
    const qsizetype from = std::max<qsizetype>(0, room - 32);
    QTextBoundaryFinder graphemes(QTextBoundaryFinder::Grapheme, rest.data() + from,
                                  std::min(rest.size(), room + 32) - from);
    graphemes.setPosition(room - from);
    if (!graphemes.isAtBoundary()) {
        const qsizetype before = graphemes.toPreviousBoundary();
        if (before > 0)
            return from + before;
    }
    return room;
}

} // namespace

ScratchField::ScratchField(QWidget *parent) : QPlainTextEdit(parent) {
    connect(this, &QPlainTextEdit::textChanged, this, [this] {
        if (!setting_)
            edited_ = true;
    });
}

QString ScratchField::text() const {
    if (!edited_)
        return raw_;
    return shownText(0, document()->characterCount() - 1, QStringLiteral("\r\n"));
}

QString ScratchField::shownText(int from, int to, const QString &lineEnd) const {
    QString out;
    for (QTextBlock block = document()->findBlock(from); block.isValid() && block.position() <= to;
         block = block.next()) {
        if (block.position() > from && !continuesLine(block))
            out += lineEnd;
        const int start = std::max(from, block.position());
        const int end = std::min(to, block.position() + block.length() - 1);
        QString part = block.text().mid(start - block.position(), end - start);
        out += part.replace(QChar::LineSeparator, lineEnd);
    }
    return out;
}

void ScratchField::setText(const QString &text) {
    // What the widget is given: paragraphs divided by '\n', the lines within
    // one by U+2028; the numbers of the paragraphs that continue a line.
    QString shown;
    shown.reserve(text.size());
    std::vector<int> continuing;
    int paragraph = 0;
    qsizetype paragraphStart = 0;
    const auto newParagraph = [&] {
        shown += u'\n';
        ++paragraph;
        paragraphStart = shown.size();
    };
    const qsizetype n = text.size();
    for (qsizetype i = 0;;) {
        qsizetype end = i;
        while (end < n && !endsLine(text[end]))
            ++end;
        QStringView line = QStringView(text).mid(i, end - i);
        if (i > 0) {
            if (shown.size() - paragraphStart + 1 + line.size() <= kParagraphLength)
                shown += QChar::LineSeparator;
            else
                newParagraph();
        }
        // Only a line that did not fit is longer than a paragraph, and it
        // starts a paragraph of its own.
        while (line.size() > kParagraphLength) {
            const qsizetype take = pieceLength(line, kParagraphLength);
            shown += line.first(take);
            line = line.sliced(take);
            newParagraph();
            continuing.push_back(paragraph);
        }
        shown += line;
        if (end == n)
            break;
        i = end + (text[end] == u'\r' && end + 1 < n && text[end + 1] == u'\n' ? 2 : 1);
    }

    setting_ = true;
    raw_ = text;
    setPlainText(shown);
    if (!continuing.empty()) {
        // The marks change nothing that is shown or read: no undo step, and
        // no change is signalled.
        QTextDocument *doc = document();
        const QSignalBlocker quiet(doc);
        const bool undo = doc->isUndoRedoEnabled();
        doc->setUndoRedoEnabled(false);
        QTextBlockFormat mark;
        mark.setProperty(kContinuesLine, true);
        QTextCursor cursor(doc);
        cursor.beginEditBlock();
        for (const int number : continuing) {
            cursor.setPosition(doc->findBlockByNumber(number).position());
            cursor.mergeBlockFormat(mark);
        }
        cursor.endEditBlock();
        doc->setUndoRedoEnabled(undo);
        doc->setModified(false);
    }
    edited_ = false;
    setting_ = false;
}

void ScratchField::keyPressEvent(QKeyEvent *event) {
    QTextCursor cursor = textCursor();
    const bool editable = !isReadOnly();
    // Enter starts a line of its own, also inside a piece that continues
    // one (a new paragraph would take over the piece's mark).
    if (editable && event->matches(QKeySequence::InsertParagraphSeparator)) {
        QTextBlockFormat format = cursor.blockFormat();
        format.clearProperty(kContinuesLine);
        cursor.insertBlock(format);
        setTextCursor(cursor);
        return;
    }
    // The end of a piece and the start of the next are one place in the
    // line: the arrow keys and the erasing keys step over the seam between
    // them, so that no key stops on it or takes it for a character.
    const bool select = event->matches(QKeySequence::SelectNextChar) ||
                        event->matches(QKeySequence::SelectPreviousChar);
    // (An arrow key that only gives up a selection moves nothing.)
    const bool step = select || !cursor.hasSelection();
    const bool right = step && (select ? event->matches(QKeySequence::SelectNextChar)
                                       : event->matches(QKeySequence::MoveToNextChar));
    const bool left = step && (select ? event->matches(QKeySequence::SelectPreviousChar)
                                      : event->matches(QKeySequence::MoveToPreviousChar));
    const bool erase = editable && !cursor.hasSelection();
    const bool backspace = erase && event->key() == Qt::Key_Backspace &&
                           !(event->modifiers() & ~(Qt::ShiftModifier | Qt::KeypadModifier));
    const bool del = erase && event->matches(QKeySequence::Delete);
    const auto anchor = select ? QTextCursor::KeepAnchor : QTextCursor::MoveAnchor;
    const auto seamAhead = [](const QTextCursor &c) {
        return c.atBlockEnd() && continuesLine(c.block().next());
    };
    if ((right || del) && seamAhead(cursor)) {
        cursor.setPosition(cursor.position() + 1, anchor);
        setTextCursor(cursor);
    } else if ((left || backspace) && cursor.atBlockStart() && continuesLine(cursor.block())) {
        cursor.setPosition(cursor.position() - 1, anchor);
        setTextCursor(cursor);
    }
    QPlainTextEdit::keyPressEvent(event);
    cursor = textCursor();
    if (right && seamAhead(cursor)) {
        cursor.setPosition(cursor.position() + 1, anchor);
        setTextCursor(cursor);
    }
}

QMimeData *ScratchField::createMimeDataFromSelection() const {
    const QTextCursor cursor = textCursor();
    auto *data = new QMimeData;
    data->setText(shownText(cursor.selectionStart(), cursor.selectionEnd(), QStringLiteral("\n")));
    return data;
}

} // namespace lesemund
