#pragma once

#include <QFrame>
#include <QPixmap>

namespace lyravox::ui {

// The main window's picture area `Picture1`: the banner inside a 2 px sunken border. It is a tab
// stop, so it shows a focus cue when it has the focus, but it does nothing with the keyboard; a
// click on it is the only thing it reports.
class BannerPicture : public QFrame {
    Q_OBJECT

public:
    // The banner's own size, which the area's interior fills exactly.
    static constexpr int imageWidthPx = 145;
    static constexpr int imageHeightPx = 65;

    explicit BannerPicture(QWidget* parent);

    // The banner as drawn, at `devicePixelRatio`.
    static QPixmap render(qreal devicePixelRatio);

signals:
    // A left-button press and release, both on the picture.
    void clicked();

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    QPixmap m_banner;
    bool m_pressed = false;
};

}  // namespace lyravox::ui
