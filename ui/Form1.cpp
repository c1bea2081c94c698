#include "ui/Form1.h"

#include <QAction>
#include <QMenu>
#include <QMenuBar>

Form1::Form1(QWidget* parent) : QMainWindow(parent) {
    setObjectName("Form1");
    setWindowTitle("Lyravox");
    // A tuning aid has a fixed layout: a resizable or maximised window would only add empty space.
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
    setFixedSize(widthPx, heightPx);

    QMenu* fileMenu = menuBar()->addMenu(tr("&File"));
    m_exitAction = fileMenu->addAction(tr("E&xit"));
    connect(m_exitAction, &QAction::triggered, this, &QWidget::close);
}
