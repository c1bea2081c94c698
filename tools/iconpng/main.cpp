// Renders the program icon's SVG to a PNG of a given size, with transparency, for the icon theme
// of desktops that want a bitmap beside the scalable icon. Run by the build.
//
//   iconpng ICON.svg OUT.png|OUT.ico SIZE_PX   (the format follows the suffix)
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QSvgRenderer>

#include <charconv>
#include <cstdio>
#include <string_view>
#include <system_error>

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: iconpng ICON.svg OUT.png|OUT.ico SIZE_PX\n");
        return 2;
    }
    // The whole argument must be the number: "32px" or "" is refused, not read as 32 or 0.
    const std::string_view sizeText(argv[3]);
    int sizePx = 0;
    const auto [end, error] =
            std::from_chars(sizeText.data(), sizeText.data() + sizeText.size(), sizePx);
    if (error != std::errc() || end != sizeText.data() + sizeText.size() || sizePx <= 0 ||
        sizePx > 1024) {
        std::fprintf(stderr, "iconpng: size must be 1 to 1024 pixels, not %s\n", argv[3]);
        return 2;
    }
    // No display is needed to draw into an image; the build may run without one.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);

    QSvgRenderer renderer{QString::fromLocal8Bit(argv[1])};
    if (!renderer.isValid()) {
        std::fprintf(stderr, "iconpng: cannot read %s as SVG\n", argv[1]);
        return 1;
    }
    QImage image(sizePx, sizePx, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    {
        QPainter painter(&image);
        painter.setRenderHint(QPainter::Antialiasing);
        renderer.render(&painter);
    }
    if (!image.save(QString::fromLocal8Bit(argv[2]))) {
        std::fprintf(stderr, "iconpng: cannot write %s\n", argv[2]);
        return 1;
    }
    return 0;
}
