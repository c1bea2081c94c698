#include "ui/BannerPicture.h"

#include "ui/BannerPictureAccessible.h"
#include "ui/SvgArt.h"

#include <QAccessible>
#include <QMouseEvent>
#include <QPainter>
#include <QStyle>
#include <QStyleOptionFocusRect>

namespace lyravox::ui {

BannerPicture::BannerPicture(QWidget* parent)
    : QFrame(parent)
    , m_banner(render(devicePixelRatioF())) {
    // WinPanel is two pixels wide whatever the line width, like the classic sunken picture box.
    static const bool accessibleAsPicture =
            (QAccessible::installFactory(&bannerPictureAccessible), true);
    Q_UNUSED(accessibleAsPicture);
    setFrameStyle(QFrame::WinPanel | QFrame::Sunken);
    setFocusPolicy(Qt::StrongFocus);
    setAccessibleName(tr("Lyravox"));
    setAccessibleDescription(tr("Banner: electric guitars and the program's name. A click opens "
                                "the About window."));
}

QPixmap BannerPicture::render(qreal devicePixelRatio) {
    return renderSvg(QStringLiteral(":/lyravox/art/banner.svg"), QSize(imageWidthPx, imageHeightPx),
                     devicePixelRatio, Qt::black);
}

void BannerPicture::paintEvent(QPaintEvent* event) {
    QFrame::paintEvent(event);
    // Moved to a screen of another pixel density, the banner is drawn anew rather than scaled.
    if (m_banner.devicePixelRatio() != devicePixelRatioF()) {
        m_banner = render(devicePixelRatioF());
    }
    QPainter painter(this);
    painter.drawPixmap(contentsRect().topLeft(), m_banner);
    if (hasFocus()) {
        // A label-like picture would otherwise give no sign that Tab has stopped on it.
        QStyleOptionFocusRect focus;
        focus.initFrom(this);
        focus.rect = contentsRect().adjusted(1, 1, -1, -1);
        focus.backgroundColor = Qt::black;
        style()->drawPrimitive(QStyle::PE_FrameFocusRect, &focus, &painter, this);
    }
}

void BannerPicture::mousePressEvent(QMouseEvent* event) {
    m_pressed = event->button() == Qt::LeftButton;
    QFrame::mousePressEvent(event);
}

void BannerPicture::mouseReleaseEvent(QMouseEvent* event) {
    // Pressing, sliding off and letting go is no click, as with a button.
    const bool click = m_pressed && event->button() == Qt::LeftButton &&
                       rect().contains(event->position().toPoint());
    m_pressed = false;
    QFrame::mouseReleaseEvent(event);
    if (click) {
        emit clicked();
    }
}

}  // namespace lyravox::ui
