#include "ui/ReadablePictureAccessible.h"

#include "ui/ReadablePicture.h"

#include <QAccessibleWidget>
#include <QString>

namespace lyravox::ui {
namespace {

class ReadableAccessible final : public QAccessibleWidget, public QAccessibleTextInterface {
public:
    explicit ReadableAccessible(ReadablePicture* picture)
        : QAccessibleWidget(picture, QAccessible::EditableText) {}

    void* interface_cast(QAccessible::InterfaceType type) override {
        if (type == QAccessible::TextInterface) {
            return static_cast<QAccessibleTextInterface*>(this);
        }
        return QAccessibleWidget::interface_cast(type);
    }

    QAccessible::State state() const override {
        QAccessible::State state = QAccessibleWidget::state();
        state.readOnly = true;
        state.multiLine = true;
        return state;
    }

    // Nothing can be selected: the text is part of the picture.
    void selection(int, int* startOffset, int* endOffset) const override {
        *startOffset = 0;
        *endOffset = 0;
    }
    int selectionCount() const override { return 0; }
    void addSelection(int, int) override {}
    void removeSelection(int) override {}
    void setSelection(int, int, int) override {}

    int cursorPosition() const override { return picture()->caretOffset(); }
    void setCursorPosition(int position) override { picture()->setCaretOffset(position); }

    QString text(int startOffset, int endOffset) const override {
        const QString& all = picture()->readableText();
        if (startOffset < 0 || endOffset < startOffset || startOffset > all.size()) {
            return {};
        }
        return all.mid(startOffset, endOffset - startOffset);
    }
    QString text(QAccessible::Text type) const override { return QAccessibleWidget::text(type); }
    int characterCount() const override {
        return static_cast<int>(picture()->readableText().size());
    }

    QRect characterRect(int offset) const override {
        const QRect drawn = picture()->characterRect(offset);
        return drawn.isNull() ? drawn : drawn.translated(picture()->mapToGlobal(QPoint(0, 0)));
    }
    int offsetAtPoint(const QPoint& point) const override {
        return picture()->offsetAt(picture()->mapFromGlobal(point));
    }

    void scrollToSubstring(int, int) override {}

    QString attributes(int offset, int* startOffset, int* endOffset) const override {
        // One run without attributes of its own covers the whole text.
        *startOffset = offset < 0 ? -1 : 0;
        *endOffset = offset < 0 ? -1 : characterCount();
        return {};
    }

private:
    ReadablePicture* picture() const { return static_cast<ReadablePicture*>(widget()); }
};

}  // namespace

QAccessibleInterface* readablePictureAccessible(const QString& className, QObject* object) {
    if (className != QLatin1String(ReadablePicture::staticMetaObject.className())) {
        return nullptr;
    }
    auto* picture = qobject_cast<ReadablePicture*>(object);
    return picture != nullptr ? new ReadableAccessible(picture) : nullptr;
}

}  // namespace lyravox::ui
