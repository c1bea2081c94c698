#include "sounds/resource_loader.h"
#include "tests/ui/test_main_window.h"
#include "ui/FailureBoundary.h"

#include <QCheckBox>
#include <QPushButton>
#include <QTemporaryFile>
#include <QTest>

#include <cstdio>
#include <memory>
#include <new>
#include <stdexcept>
#include <unistd.h>

using lyravox::ui::test::TestMainWindow;

namespace {

enum class Failure { MissingClip, NothingLoaded, OutOfMemory, UnknownType };

void fail(Failure failure) {
    switch (failure) {
        case Failure::MissingClip:
            throw lyravox::sounds::ResourceNotFound("x", "WAVE");
        case Failure::NothingLoaded:
            throw std::logic_error("startClip: no clip has been loaded into the clip buffer");
        case Failure::OutOfMemory:
            throw std::bad_alloc();
        case Failure::UnknownType:
            throw 42;
    }
}

// What the program writes to stderr meanwhile.
class StderrCapture {
public:
    StderrCapture() {
        file_.open();
        std::fflush(stderr);
        saved_ = ::dup(STDERR_FILENO);
        ::dup2(file_.handle(), STDERR_FILENO);
    }
    ~StderrCapture() { restore(); }

    QString text() {
        restore();
        file_.seek(0);
        return QString::fromUtf8(file_.readAll());
    }

private:
    void restore() {
        if (saved_ >= 0) {
            std::fflush(stderr);
            ::dup2(saved_, STDERR_FILENO);
            ::close(saved_);
            saved_ = -1;
        }
    }

    QTemporaryFile file_;
    int saved_ = -1;
};

}  // namespace

Q_DECLARE_METATYPE(Failure)

class FailureBoundaryTest : public QObject {
    Q_OBJECT

private slots:
    void handlerFails_data() {
        QTest::addColumn<Failure>("failure");
        QTest::addColumn<bool>("nested");
        QTest::addColumn<QString>("message");
        QTest::addColumn<bool>("programEnds");
        QTest::newRow("a clip the program does not carry")
                << Failure::MissingClip << false
                << "lyravox: Command1_Click failed: no resource named \"x\" of type \"WAVE\"; "
                   "this is a fault in Lyravox, which ends now\n"
                << true;
        QTest::newRow("a start with nothing loaded")
                << Failure::NothingLoaded << false
                << "lyravox: Command1_Click failed: startClip: no clip has been loaded into the "
                   "clip buffer; this is a fault in Lyravox, which ends now\n"
                << true;
        QTest::newRow("an exception of unknown type")
                << Failure::UnknownType << false
                << "lyravox: Command1_Click failed: an exception of unknown type; this is a fault "
                   "in Lyravox, which ends now\n"
                << true;
        QTest::newRow("a fault in play-all nested in a string loop")
                << Failure::NothingLoaded << true
                << "lyravox: alle_Click failed: startClip: no clip has been loaded into the clip "
                   "buffer; this is a fault in Lyravox, which ends now\n"
                << true;
        QTest::newRow("no memory for the moment")
                << Failure::OutOfMemory << false
                << "lyravox: Command1_Click failed: std::bad_alloc; Lyravox goes on\n"
                << false;
    }

    // The failure stops at the slot with one line on stderr: a fault ends the program with
    // status 70 and every waiting handler returns; a failure of the moment leaves the window
    // working.
    void handlerFails() {
        QFETCH(Failure, failure);
        QFETCH(bool, nested);
        QFETCH(QString, message);
        QFETCH(bool, programEnds);
        auto desk = std::make_unique<TestMainWindow>();
        Form1& window = desk->window;
        const auto& widgets = window.widgets();

        StderrCapture stderrCapture;
        if (nested) {
            // A string loop; at its third start "Play All Strings" is clicked, and fails at once.
            widgets.check1->setChecked(true);
            desk->clips.onStart = [&] {
                const std::size_t starts = desk->clips.started.size();
                if (starts == 3) {
                    widgets.alle->click();
                } else if (starts == 4) {
                    fail(failure);
                } else if (starts == 50) {
                    widgets.check1->setChecked(false);  // the loop went on: fail, not hang
                }
            };
            widgets.commands[1]->click();
        } else {
            desk->clips.onStart = [&] { fail(failure); };
            widgets.commands[0]->click();
        }
        desk->clips.onStart = nullptr;

        QCOMPARE(stderrCapture.text(), message);
        QCOMPARE(window.playback().closing(), programEnds);
        QCOMPARE(desk->runTime.endRequests, programEnds ? 1 : 0);
        if (programEnds) {
            QCOMPARE(desk->runTime.lastExitStatus, lyravox::ui::kFaultExitStatus);
            // The loop that waited outside the failed handler returned instead of going on.
            QCOMPARE(desk->clips.started.size(), std::size_t(nested ? 4 : 1));
        } else {
            widgets.commands[2]->click();
            QCOMPARE(desk->clips.started.back(), std::string("d"));
        }
    }
};

QTEST_MAIN(FailureBoundaryTest)
#include "failure_boundary_test.moc"
