#include "ui/WindowParts.h"

#include <QLabel>
#include <QPixmap>
#include <QString>

namespace lyravox::ui {

Qt::WindowFlags fixedWindowFlags(Qt::WindowType type) {
    return type | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
           Qt::WindowCloseButtonHint;
}

void addTextUnderPicture(QLabel* picture, const QString& text, const QRect& drawnAt) {
    auto* label = new QLabel(text, picture->parentWidget());
    label->setWordWrap(true);
    label->setGeometry(drawnAt.translated(picture->pos()));
    label->stackUnder(picture);
}

void showPicture(QLabel* label, const QPixmap& picture) {
    label->setPixmap(picture);
    label->setGeometry(QRect(QPoint(0, 0), picture.deviceIndependentSize().toSize()));
}

QLabel* addPicture(QWidget* window, const QString& objectName, const QPixmap& picture,
                   const QString& accessibleName, const QString& description) {
    auto* label = new QLabel(window);
    label->setObjectName(objectName);
    showPicture(label, picture);
    label->setAccessibleName(accessibleName);
    label->setAccessibleDescription(description);
    return label;
}

}  // namespace lyravox::ui
