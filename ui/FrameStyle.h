#pragma once

#include <QProxyStyle>

namespace lyravox::ui {

// Frames as the window was designed: the title sits on the frame's top line, which runs through
// the title's middle, and the contents begin below the title's letters. The positions in the
// control table assume this; the desktop's own style draws the title above the box and the box's
// top line lower down, where the first control of each frame would sit on it. Everything but the
// frames is left to the desktop's style.
class FrameStyle final : public QProxyStyle {
public:
    FrameStyle();

    QRect subControlRect(ComplexControl control, const QStyleOptionComplex* option,
                         SubControl subControl, const QWidget* widget) const override;
    void drawComplexControl(ComplexControl control, const QStyleOptionComplex* option,
                            QPainter* painter, const QWidget* widget) const override;

    // Where the title's letters are inked, within the frame: a control inside the frame keeps
    // clear of this.
    static QRect titleInk(const QStyleOptionComplex* option);
};

// The one FrameStyle of the program, owned by the application object.
QStyle* frameStyle();

}  // namespace lyravox::ui
