#include "ui/Form2.h"

#include "ui/HelpPicture.h"
#include "ui/ReadablePicture.h"
#include "ui/SvgArt.h"
#include "ui/WindowParts.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QCoreApplication>
#include <QPointer>

namespace {

// Closing the window deletes it, which clears this.
QPointer<Form2> openHelpWindow;

// A secondary window of its own, which a screen reader presents as a dialog: on opening it reads
// the window's text, not only its title as for a main window.
QAccessibleInterface* helpWindowAccessible(const QString& className, QObject* object) {
    if (className != QLatin1String(Form2::staticMetaObject.className())) {
        return nullptr;
    }
    auto* window = qobject_cast<Form2*>(object);
    return window != nullptr ? new QAccessibleWidget(window, QAccessible::Dialog) : nullptr;
}

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

    static const bool readAsDialog = (QAccessible::installFactory(&helpWindowAccessible), true);
    Q_UNUSED(readAsDialog);
    setAccessibleDescription(HelpPicture::plainText());

    m_picture = new lyravox::ui::ReadablePicture(this, HelpPicture::readableLines(),
                                                 &HelpPicture::characterRects);
    m_picture->setObjectName(QStringLiteral("helpPicture"));
    lyravox::ui::showPicture(m_picture, HelpPicture::render(devicePixelRatioF()));
    m_picture->setAccessibleName(tr("Help text"));
    m_picture->setFocus();

    setFixedSize(widthPx, heightPx);
    setGeometry(startLeftPx, startTopPx, widthPx, heightPx);
}
