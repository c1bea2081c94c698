#include "ui/Form3.h"

#include "ui/AboutPicture.h"
#include "ui/CentreWhenFramed.h"
#include "ui/SvgArt.h"
#include "ui/WindowParts.h"

#include <QGuiApplication>
#include <QKeyEvent>
#include <QPointer>
#include <QPushButton>
#include <QScreen>

namespace {

QPointer<Form3> openAboutWindow;

}  // namespace

void Form3::showAbout(QWidget* over) {
    if (openAboutWindow != nullptr) {
        openAboutWindow->raise();
        openAboutWindow->activateWindow();
        return;
    }
    openAboutWindow = new Form3(over);
    openAboutWindow->setAttribute(Qt::WA_DeleteOnClose);
    openAboutWindow->exec();
}

Form3* Form3::openInstance() {
    return openAboutWindow;
}

Form3::Form3(QWidget* over) : QDialog(over) {
    using lyravox::ui::AboutPicture;

    setObjectName(QStringLiteral("Form3"));
    setWindowTitle(tr("About..."));
    setWindowIcon(lyravox::ui::programIcon());
    setWindowFlags(lyravox::ui::fixedWindowFlags(Qt::Dialog));
    setWindowModality(Qt::ApplicationModal);

    // Three rows taller than the client area: the bottom ones are never seen.
    m_picture = lyravox::ui::addPicture(
            this, QStringLiteral("aboutPicture"), AboutPicture::render(devicePixelRatioF()),
            tr("About Lyravox"), tr("Three guitars standing side by side"));
    // Read when the window opens, before the button; the picture shows them.
    for (const AboutPicture::Passage& passage : AboutPicture::passages()) {
        lyravox::ui::addTextUnderPicture(m_picture, passage.text, passage.drawnAt);
    }

    m_command1 = new QPushButton(tr("Aha, Yes..."), this);
    m_command1->setObjectName(QStringLiteral("Command1"));
    m_command1->setGeometry(68, 272, 133, 29);
    m_command1->setFocus();
    connect(m_command1, &QPushButton::clicked, this, &Form3::Command1_Click);

    setFixedSize(widthPx, heightPx);
    centreOver(over);
}

void Form3::keyPressEvent(QKeyEvent* event) {
    if (event->matches(QKeySequence::Cancel)) {
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

void Form3::Command1_Click() {
    close();
}

void Form3::centreOver(const QWidget* over) {
    // Client area on client area first, which is right where no window manager frames the
    // windows; then this window's frame on the main window's frame, once this frame's size is
    // known, after the window manager has decorated the shown window.
    QRect placed(0, 0, widthPx, heightPx);
    if (over != nullptr) {
        placed.moveCenter(over->window()->geometry().center());
    } else if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        placed.moveCenter(screen->availableGeometry().center());
    }
    setGeometry(placed);
    if (over != nullptr) {
        QPointer<const QWidget> owner(over->window());
        new lyravox::ui::CentreWhenFramed(this, [this, owner] {
            return owner != nullptr ? owner->frameGeometry().center() : frameGeometry().center();
        });
    }
}
