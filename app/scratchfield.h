#pragma once
// The scratch field of the main window.
#include <QPlainTextEdit>

namespace lesemund {

// The scratch field. Its text keeps every character as it was set, CR LF
// and lone CRs included; once the user edits it, its line breaks read as
// CR LF, as a multi-line text box gives them.
//
// The widget lays a paragraph out as a whole, and the time that takes grows
// with the paragraph's length, with its square where a long run has no
// blank to break at: one line of a megabyte froze the window for most of a
// minute. So the field shows its text in paragraphs of at most
// kParagraphLength characters: short lines are gathered into one paragraph
// (divided by line separators, U+2028), and a longer line is cut into
// pieces, after a blank where there is one. Every piece after a line's
// first is marked as continuing it; reading the text back joins the pieces
// again, and the keys treat the seam between two pieces as one place.
class ScratchField : public QPlainTextEdit {
    Q_OBJECT
public:
    static constexpr int kParagraphLength = 4096;

    explicit ScratchField(QWidget *parent = nullptr);
    QString text() const;
    void setText(const QString &text);

protected:
    void keyPressEvent(QKeyEvent *event) override;
    QMimeData *createMimeDataFromSelection() const override;

private:
    // The characters between two document positions as the user wrote
    // them: pieces joined, line breaks as `lineEnd`.
    QString shownText(int from, int to, const QString &lineEnd) const;

    QString raw_;
    bool edited_ = false;
    bool setting_ = false;
};

} // namespace lesemund
