#include "ui/Form1.h"

#include "playback/sound_commands.h"
#include "ui/ApplicationAccessible.h"
#include "ui/BannerPicture.h"
#include "ui/CentreWhenFramed.h"
#include "ui/Form2.h"
#include "ui/Form3.h"
#include "ui/MenuItemAccessible.h"
#include "ui/OptionButtonAccessible.h"
#include "ui/PlayAllStatus.h"
#include "ui/SvgArt.h"
#include "ui/WindowParts.h"

#include <QAccessible>
#include <QAction>
#include <QCloseEvent>
#include <QGuiApplication>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QScreen>

#include <string>
#include <tuple>

Form1::Form1(lyravox::platform::RunTime& runTime, lyravox::sounds::ClipPlayback& player,
             QWidget* parent)
    : QMainWindow(parent)
    , m_playback(m_controls, runTime, player) {
    // Before any window exists: assistive technology may ask for the program as soon as one does.
    static const bool describedForAssistiveTechnology =
            (QAccessible::installFactory(&lyravox::ui::applicationAccessible),
             QAccessible::installFactory(&lyravox::ui::optionButtonAccessible), true);
    Q_UNUSED(describedForAssistiveTechnology);
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(tr("Lyravox"));
    setWindowIcon(lyravox::ui::programIcon());
    // A tuning aid has a fixed layout: a resizable or maximised window would only add empty space.
    setWindowFlags(lyravox::ui::fixedWindowFlags(Qt::Window));

    auto* clientArea = new QWidget(this);
    clientArea->setObjectName(QStringLiteral("clientArea"));
    setCentralWidget(clientArea);
    m_widgets = lyravox::ui::buildForm1Widgets(clientArea);
    new lyravox::ui::PlayAllStatus(clientArea, m_widgets.commands);
    buildMenu();
    connectHandlers();

    setFixedSize(widthPx, heightPx);
    centreOnScreen();
    m_playback.Form_Load();
    m_widgets.commands[0]->setFocus();
}

namespace {

// The status tips are what a screen reader gives as each entry's description; this window has no
// status bar that would show them.
void describeMenu(QMenu* menu, const QString& description) {
    menu->menuAction()->setStatusTip(description);
    menu->setAccessibleName(QString(menu->title()).remove(QLatin1Char('&')));
    menu->setAccessibleDescription(description);
}

}  // namespace

void Form1::buildMenu() {
    static const bool menuEntriesDescribed =
            (QAccessible::installFactory(&lyravox::ui::menuItemAccessible), true);
    Q_UNUSED(menuEntriesDescribed);

    QMenu* fileMenu = menuBar()->addMenu(tr("&File"));
    fileMenu->setObjectName(QStringLiteral("File"));
    describeMenu(fileMenu, tr("Leave the program"));
    m_exitAction = fileMenu->addAction(tr("E&xit"));
    m_exitAction->setObjectName(QStringLiteral("Exit"));
    m_exitAction->setStatusTip(tr("Stop playing and close Lyravox"));

    QMenu* helpMenu = menuBar()->addMenu(tr("&Help"));
    helpMenu->setObjectName(QStringLiteral("Help"));
    describeMenu(helpMenu, tr("How to use the program, and who made it"));
    m_helpWindowAction = helpMenu->addAction(tr("Help for this Tool"));
    m_helpWindowAction->setObjectName(QStringLiteral("Help_window"));
    m_helpWindowAction->setShortcut(QKeySequence(Qt::Key_F1));
    m_helpWindowAction->setStatusTip(tr("Open the window that explains the program"));
    m_aboutAction = helpMenu->addAction(tr("&About"));
    m_aboutAction->setObjectName(QStringLiteral("About"));
    m_aboutAction->setStatusTip(tr("Open the window with the authors, the terms of use and the "
                                   "addresses"));
}

void Form1::connectHandlers() {
    static_assert(lyravox::playback::kSoundCommands.size() ==
                  std::tuple_size_v<decltype(lyravox::ui::Form1Widgets::commands)>);
    for (const lyravox::playback::SoundCommand& command : lyravox::playback::kSoundCommands) {
        const std::string handlerName =
                "Command" + std::to_string(command.commandNumber) + "_Click";
        connect(m_widgets.commands.at(static_cast<std::size_t>(command.commandNumber - 1)),
                &QPushButton::clicked, this,
                guarded(handlerName, [this, click = command.click] { (m_playback.*click)(); }));
    }
    connect(m_widgets.alle, &QPushButton::clicked, this,
            guarded("alle_Click", [this] { m_playback.alle_Click(); }));
    connect(m_exitAction, &QAction::triggered, this,
            guarded("Exit_Click", [this] { m_playback.Exit_Click(); }));
    connect(m_helpWindowAction, &QAction::triggered, this,
            guarded("Help_window_Click", [this] { Help_window_Click(); }));
    connect(m_aboutAction, &QAction::triggered, this,
            guarded("About_Click", [this] { About_Click(); }));
    connect(m_widgets.picture1, &lyravox::ui::BannerPicture::clicked, this,
            guarded("Picture1_Click", [this] { Picture1_Click(); }));
}

void Form1::centreOnScreen() {
    const QScreen* screen = QGuiApplication::primaryScreen();
    if (screen == nullptr) {
        return;
    }
    // The client area first, which is right where no window manager frames the window; the frame
    // once its size is known, after the window manager has decorated the shown window.
    QRect placed(0, 0, widthPx, heightPx);
    placed.moveCenter(screen->availableGeometry().center());
    setGeometry(placed);
    new lyravox::ui::CentreWhenFramed(this, [this] {
        const QScreen* shownOn = this->screen();
        return shownOn != nullptr ? shownOn->availableGeometry().center()
                                  : frameGeometry().center();
    });
}

void Form1::closeEvent(QCloseEvent* event) {
    m_playback.Exit_Click();
    event->accept();
}

void Form1::Help_window_Click() {
    Form2::showHelp();
}

void Form1::About_Click() {
    Form3::showAbout(this);
}

void Form1::Picture1_Click() {
    Form3::showAbout(this);
}
