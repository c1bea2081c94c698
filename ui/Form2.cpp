#include "ui/Form2.h"

#include "ui/HelpPicture.h"
#include "ui/SvgArt.h"
#include "ui/WindowParts.h"

#include <QCoreApplication>
#include <QPointer>

namespace {

// Closing the window deletes it, which clears this.
QPointer<Form2> openHelpWindow;

}  // namespace

Form2* Form2::showHelp() {
    if (openHelpWindow == nullptr) {
        openHelpWindow = new Form2;
        openHelpWindow->show();
    } else {
        openHelpWindow->raise();
    }
    openHelpWindow->activateWindow();
    return openHelpWindow;
}

Form2* Form2::openInstance() {
    return openHelpWindow;
}

Form2::Form2() : QWidget(nullptr) {
    using lyravox::ui::HelpPicture;

    setObjectName(QStringLiteral("Form2"));
    setWindowTitle(tr("Help"));
    setWindowIcon(lyravox::ui::helpIcon());
    setWindowFlags(lyravox::ui::fixedWindowFlags(Qt::Window));
    setAttribute(Qt::WA_DeleteOnClose);
    // The main window alone decides when the program ends; help left open must not keep it alive.
    setAttribute(Qt::WA_QuitOnClose, false);
    // Ending through QCoreApplication::exit() closes no windows: go with the program all the same.
    connect(qApp, &QCoreApplication::aboutToQuit, this, &QWidget::close);

    // Shows only in the column right of the picture.
    setBackgroundRole(QPalette::ToolTipBase);
    setAutoFillBackground(true);

    m_picture = lyravox::ui::addPicture(this, QStringLiteral("helpPicture"),
                                        HelpPicture::render(devicePixelRatioF()), tr("Help text"),
                                        HelpPicture::plainText());

    setFixedSize(widthPx, heightPx);
    setGeometry(startLeftPx, startTopPx, widthPx, heightPx);
}
