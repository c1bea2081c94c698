#include "ui/Form2.h"

#include "ui/HelpPicture.h"
#include "ui/SvgArt.h"

#include <QCoreApplication>
#include <QLabel>
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
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
    setAttribute(Qt::WA_DeleteOnClose);
    // The main window alone decides when the program ends; help left open must not keep it alive.
    setAttribute(Qt::WA_QuitOnClose, false);
    // Ending through QCoreApplication::exit() closes no windows: go with the program all the same.
    connect(qApp, &QCoreApplication::aboutToQuit, this, &QWidget::close);

    // Shows only in the column right of the picture.
    setBackgroundRole(QPalette::ToolTipBase);
    setAutoFillBackground(true);

    m_picture = new QLabel(this);
    m_picture->setObjectName(QStringLiteral("helpPicture"));
    m_picture->setGeometry(0, 0, HelpPicture::widthPx, HelpPicture::heightPx);
    m_picture->setPixmap(HelpPicture::render(devicePixelRatioF()));
    m_picture->setAccessibleName(tr("Help text"));
    m_picture->setAccessibleDescription(HelpPicture::plainText());

    setFixedSize(widthPx, heightPx);
    setGeometry(startLeftPx, startTopPx, widthPx, heightPx);
}
