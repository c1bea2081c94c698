#include "ui/ReadablePicture.h"

#include "ui/ReadablePictureAccessible.h"

#include <QAccessible>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QTextBoundaryFinder>

#include <algorithm>

namespace lyravox::ui {
namespace {

// As far as Page Up and Page Down move: about a paragraph of the help text.
constexpr int pageLines = 5;

}  // namespace

ReadablePicture::ReadablePicture(QWidget* parent, const QStringList& lines,
                                 const LineLayout& layout)
    : QLabel(parent)
    , m_lines(lines)
    , m_text(lines.join(QLatin1Char('\n'))) {
    static const bool readableAsText =
            (QAccessible::installFactory(&readablePictureAccessible), true);
    Q_UNUSED(readableAsText);
    int start = 0;
    for (int line = 0; line < m_lines.size(); ++line) {
        m_lineStarts.append(start);
        const int length = static_cast<int>(m_lines[line].size());
        start += length + 1;
        // Laid out once: the text never changes, and measuring it is what costs.
        QList<QRect> places = layout ? layout(line) : QList<QRect>{};
        places.resize(length + 1);
        m_characterRects += places;
    }
    // The reader's place in the text: it must be able to take the keys.
    setFocusPolicy(Qt::StrongFocus);
}

void ReadablePicture::setCaretOffset(int offset) {
    offset = std::clamp(offset, 0, static_cast<int>(m_text.size()));
    if (offset == m_caretOffset) {
        return;
    }
    m_caretOffset = offset;
    QAccessibleTextCursorEvent moved(this, m_caretOffset);
    QAccessible::updateAccessibility(&moved);
}

ReadablePicture::Position ReadablePicture::positionOf(int offset) const {
    const auto after = std::upper_bound(m_lineStarts.begin(), m_lineStarts.end(), offset);
    const int line = std::max(0, static_cast<int>(after - m_lineStarts.begin()) - 1);
    return {line, offset - m_lineStarts.value(line)};
}

int ReadablePicture::offsetOf(int line, int column) const {
    if (m_lines.isEmpty()) {
        return 0;
    }
    line = std::clamp(line, 0, static_cast<int>(m_lines.size()) - 1);
    return m_lineStarts.value(line) + std::clamp(column, 0, static_cast<int>(m_lines[line].size()));
}

int ReadablePicture::lineMovedBy(int lines) const {
    const Position at = positionOf(m_caretOffset);
    return offsetOf(at.line + lines, at.column);
}

int ReadablePicture::wordBoundary(bool forward) const {
    QTextBoundaryFinder words(QTextBoundaryFinder::Word, m_text);
    words.setPosition(m_caretOffset);
    // A word begins at a boundary that starts a word; skipping the others lands on the next or
    // previous word, not on the gap before it.
    for (;;) {
        const qsizetype boundary = forward ? words.toNextBoundary() : words.toPreviousBoundary();
        if (boundary < 0) {
            return forward ? static_cast<int>(m_text.size()) : 0;
        }
        if (words.boundaryReasons().testFlag(QTextBoundaryFinder::StartOfItem)) {
            return static_cast<int>(boundary);
        }
    }
}

QRect ReadablePicture::characterRect(int offset) const {
    return offset >= 0 && offset < m_characterRects.size() ? m_characterRects[offset] : QRect();
}

int ReadablePicture::offsetAt(const QPoint& point) const {
    for (int offset = 0; offset < m_text.size(); ++offset) {
        if (m_text[offset] != QLatin1Char('\n') && m_characterRects[offset].contains(point)) {
            return offset;
        }
    }
    return -1;
}

void ReadablePicture::keyPressEvent(QKeyEvent* event) {
    const bool control = event->modifiers().testFlag(Qt::ControlModifier);
    const Position at = positionOf(m_caretOffset);
    int to = m_caretOffset;
    switch (event->key()) {
        case Qt::Key_Left:
            to = control ? wordBoundary(false) : m_caretOffset - 1;
            break;
        case Qt::Key_Right:
            to = control ? wordBoundary(true) : m_caretOffset + 1;
            break;
        case Qt::Key_Up:
            to = lineMovedBy(-1);
            break;
        case Qt::Key_Down:
            to = lineMovedBy(1);
            break;
        case Qt::Key_PageUp:
            to = lineMovedBy(-pageLines);
            break;
        case Qt::Key_PageDown:
            to = lineMovedBy(pageLines);
            break;
        case Qt::Key_Home:
            to = control ? 0 : offsetOf(at.line, 0);
            break;
        case Qt::Key_End:
            to = control ? static_cast<int>(m_text.size())
                         : offsetOf(at.line, static_cast<int>(m_lines.value(at.line).size()));
            break;
        default:
            QLabel::keyPressEvent(event);
            return;
    }
    setCaretOffset(to);
    event->accept();
}

void ReadablePicture::mousePressEvent(QMouseEvent* event) {
    const int offset = offsetAt(event->position().toPoint());
    if (offset >= 0) {
        setCaretOffset(offset);
    }
    QLabel::mousePressEvent(event);
}

}  // namespace lyravox::ui
