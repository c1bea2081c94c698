#include "ui/SvgArt.h"

#include <QIcon>
#include <QPainter>
#include <QSize>
#include <QString>
#include <QSvgRenderer>
#include <QtGlobal>

#include <cmath>

namespace lyravox::ui {

QPixmap renderSvg(const QString& resourcePath, QSize sizePx, qreal devicePixelRatio,
                  const QColor& fallback) {
    const qreal ratio = devicePixelRatio > 0 ? devicePixelRatio : 1.0;
    QPixmap pixmap(static_cast<int>(std::ceil(sizePx.width() * ratio)),
                   static_cast<int>(std::ceil(sizePx.height() * ratio)));
    pixmap.setDevicePixelRatio(ratio);
    pixmap.fill(fallback);

    QSvgRenderer renderer(resourcePath);
    if (!renderer.isValid()) {
        qWarning("Lyravox: the artwork %s cannot be read; it is left out.",
                 qUtf8Printable(resourcePath));
        return pixmap;
    }
    QPainter painter(&pixmap);
    renderer.render(&painter, QRectF(QPointF(0, 0), QSizeF(sizePx)));
    return pixmap;
}

namespace {

QIcon iconAtSizes(const QString& resourcePath, std::initializer_list<int> sidesPx) {
    QIcon icon;
    for (int side : sidesPx) {
        icon.addPixmap(renderSvg(resourcePath, QSize(side, side), 1.0));
    }
    return icon;
}

}  // namespace

QIcon programIcon() {
    return iconAtSizes(QStringLiteral(":/lyravox/art/program_icon.svg"), {16, 32, 64});
}

QIcon helpIcon() {
    return iconAtSizes(QStringLiteral(":/lyravox/art/help_icon.svg"), {16, 32, 64});
}

}  // namespace lyravox::ui
