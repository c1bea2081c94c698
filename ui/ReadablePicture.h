#pragma once

#include <QLabel>
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
    // Where character `column` of line `line` is drawn, in the widget's coordinates. The column may
    // be the line's length: the place after its last character.
    using CharacterRect = std::function<QRect(int line, int column)>;

    ReadablePicture(QWidget* parent, const QStringList& lines, CharacterRect characterRect);

    // The lines joined by line breaks; offsets count its characters.
    const QString& readableText() const { return m_text; }
    int caretOffset() const { return m_caretOffset; }
    // Clamped to the text; tells assistive technology when the caret moves.
    void setCaretOffset(int offset);

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
    CharacterRect m_characterRect;
    int m_caretOffset = 0;
};

}  // namespace lyravox::ui
