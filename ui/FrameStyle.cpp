#include "ui/FrameStyle.h"

#include <QApplication>
#include <QPainter>
#include <QPixmap>
#include <QPointer>
#include <QStyleOptionGroupBox>
#include <qdrawutil.h>

#include <algorithm>

namespace lyravox::ui {
namespace {

// The title's distance from the frame's left edge, and the gap the line leaves either side of it.
constexpr int kTitleIndentPx = 6;
constexpr int kTitleGapPx = 2;
// The frame's line with its shading, and the space kept between it and the contents.
constexpr int kLinePx = 1;
constexpr int kClearancePx = 1;

bool isPlainFrame(QStyle::ComplexControl control, const QStyleOptionComplex* option) {
    const auto* box = qstyleoption_cast<const QStyleOptionGroupBox*>(option);
    return control == QStyle::CC_GroupBox && box != nullptr &&
           !(box->subControls & QStyle::SC_GroupBoxCheckBox);
}

const QString& titleOf(const QStyleOptionComplex* option) {
    return static_cast<const QStyleOptionGroupBox*>(option)->text;
}

QRect titleBox(const QStyleOptionComplex* option) {
    const QString& title = titleOf(option);
    if (title.isEmpty()) {
        return {};
    }
    const QFontMetrics& metrics = option->fontMetrics;
    const int width = metrics.horizontalAdvance(title) + 2 * kTitleGapPx;
    return QStyle::visualRect(option->direction, option->rect,
                              QRect(option->rect.left() + kTitleIndentPx, option->rect.top(), width,
                                    metrics.height()));
}

}  // namespace

FrameStyle::FrameStyle() : QProxyStyle(QApplication::style()->name()) {}

QRect FrameStyle::titleInk(const QStyleOptionComplex* option) {
    const QRect box = titleBox(option);
    if (box.isEmpty()) {
        return {};
    }
    // Letters are drawn from the top of the title's box, so the baseline lies an ascent below it.
    QRect ink = option->fontMetrics.tightBoundingRect(QString(titleOf(option)).remove(u'&'));
    ink.translate(box.left() + kTitleGapPx, box.top() + option->fontMetrics.ascent());
    return ink;
}

QRect FrameStyle::subControlRect(ComplexControl control, const QStyleOptionComplex* option,
                                 SubControl subControl, const QWidget* widget) const {
    if (!isPlainFrame(control, option)) {
        return QProxyStyle::subControlRect(control, option, subControl, widget);
    }
    const QRect box = titleBox(option);
    QRect frame = option->rect;
    if (!box.isEmpty()) {
        frame.setTop(box.center().y());
    }
    switch (subControl) {
        case SC_GroupBoxFrame:
            return frame;
        case SC_GroupBoxLabel:
            return box;
        case SC_GroupBoxContents: {
            const int inset = kLinePx + kClearancePx;
            QRect contents = frame.adjusted(inset, inset, -inset, -inset);
            if (!box.isEmpty()) {
                contents.setTop(std::max(contents.top(), titleInk(option).bottom() + 1));
            }
            return contents;
        }
        default:
            return QProxyStyle::subControlRect(control, option, subControl, widget);
    }
}

void FrameStyle::drawComplexControl(ComplexControl control, const QStyleOptionComplex* option,
                                    QPainter* painter, const QWidget* widget) const {
    if (!isPlainFrame(control, option)) {
        QProxyStyle::drawComplexControl(control, option, painter, widget);
        return;
    }
    const auto* group = static_cast<const QStyleOptionGroupBox*>(option);
    const QRect frame = subControlRect(control, option, SC_GroupBoxFrame, widget);
    const QRect title = subControlRect(control, option, SC_GroupBoxLabel, widget);

    painter->save();
    if (group->subControls & SC_GroupBoxFrame) {
        // The line breaks where the title sits on it.
        painter->setClipRegion(QRegion(option->rect) - QRegion(title));
        // The desktop style's frame primitive would move the line below the title again, so the
        // frame is drawn from the same border image Qt's Fusion style uses, where it exists.
        static const QPixmap border(
                QStringLiteral(":/qt-project.org/styles/commonstyle/images/fusion_groupbox.png"));
        if (!border.isNull()) {
            qDrawBorderPixmap(painter, frame, QMargins(6, 6, 6, 6), border);
        } else {
            painter->setPen(option->palette.color(QPalette::Mid));
            painter->drawRect(frame.adjusted(0, 0, -1, -1));
        }
        painter->setClipping(false);
    }
    if ((group->subControls & SC_GroupBoxLabel) && !title.isEmpty()) {
        drawItemText(painter, title.adjusted(kTitleGapPx, 0, -kTitleGapPx, 0),
                     Qt::AlignLeft | Qt::AlignTop | Qt::TextShowMnemonic, option->palette,
                     option->state & State_Enabled, group->text, QPalette::WindowText);
    }
    painter->restore();
}

QStyle* frameStyle() {
    static QPointer<FrameStyle> style;
    if (style.isNull()) {
        style = new FrameStyle;
        style->setParent(QCoreApplication::instance());
    }
    return style;
}

}  // namespace lyravox::ui
