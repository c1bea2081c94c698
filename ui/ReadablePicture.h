#pragma once

#include <QLabel>
#include <QList>
#include <QRect>
#include <QStringList>

#include <functional>

namespace lyravox::ui {

// A picture whose text a screen reader reads as a read-only multi-line text. The text is drawn
// into the picture, so nothing of it can be selected or copied, and no caret is painted; the widget
// only keeps the caret that a screen reader follows, moved by the keys used to read a text (arrows,
// Home, End, Page Up and Down, with Ctrl for words and the whole text) or by a click.
class ReadablePicture : public QLabel {
    Q_OBJECT

public:
    // Where the characters of line `line` are drawn, in the widget's coordinates, one rectangle
    // per character and one more for the place after the last.
    using LineLayout = std::function<QList<QRect>(int line)>;

    ReadablePicture(QWidget* parent, const QStringList& lines, const LineLayout& layout);

    // The lines joined by line breaks; offsets count its characters.
    const QString& readableText() const { return m_text; }
    int caretOffset() const { return m_caretOffset; }
    // Clamped to the text; tells assistive technology when the caret moves.
    void setCaretOffset(int offset);

    // Where the character at `offset` is drawn; the place after a line's last character for the
    // line break that ends it.
    QRect characterRect(int offset) const;
    // The offset of the character drawn at `point`, or -1 where no text is drawn.
    int offsetAt(const QPoint& point) const;

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;

private:
    struct Position {
        int line = 0;
        int column = 0;
    };
    Position positionOf(int offset) const;
    int offsetOf(int line, int column) const;
    int lineMovedBy(int lines) const;
    int wordBoundary(bool forward) const;

    QStringList m_lines;
    QString m_text;
    QList<int> m_lineStarts;
    QList<QRect> m_characterRects;  // one per offset, the text's end included
    int m_caretOffset = 0;
};

}  // namespace lyravox::ui
