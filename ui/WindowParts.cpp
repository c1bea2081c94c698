#include "ui/WindowParts.h"

#include <QLabel>
#include <QPixmap>
#include <QString>

namespace lyravox::ui {

Qt::WindowFlags fixedWindowFlags(Qt::WindowType type) {
    return type | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
           Qt::WindowCloseButtonHint;
}

QLabel* addPicture(QWidget* window, const QString& objectName, const QPixmap& picture,
                   const QString& accessibleName, const QString& description) {
    auto* label = new QLabel(window);
    label->setObjectName(objectName);
    label->setPixmap(picture);
    label->setGeometry(QRect(QPoint(0, 0), picture.deviceIndependentSize().toSize()));
    label->setAccessibleName(accessibleName);
    label->setAccessibleDescription(description);
    return label;
}

}  // namespace lyravox::ui
