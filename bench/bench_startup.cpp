// How quickly the program shows its window and how much memory it holds then, against a bare Qt
// window measured side by side on the same machine: each is started as a fresh process (this
// benchmark run again with a mode argument), so library loading counts as a user feels it.
// Prints `name value unit` lines.
#include "ui/Form1.h"
#include "ui/Program.h"

#include <QApplication>
#include <QEvent>
#include <QLabel>
#include <QTimer>
#include <QWidget>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace {

using namespace std::chrono_literals;

constexpr int kRuns = 9;
// Resident memory is read once the window has settled after its first paint.
constexpr auto kSettle = 1s;

long long steadyNowNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
                   std::chrono::steady_clock::now().time_since_epoch())
            .count();
}

double residentMegabytes() {
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);) {
        if (line.rfind("VmRSS:", 0) == 0)
            return std::strtod(line.c_str() + 6, nullptr) / 1024.0;
    }
    return -1;
}

// Notes the first paint of the watched window, then reports and ends the process.
class FirstPaintWatch final : public QObject {
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Paint && firstPaintNs_ == 0) {
            firstPaintNs_ = steadyNowNs();
            QTimer::singleShot(kSettle, this, [this] {
                std::printf("%lld %.2f\n", firstPaintNs_, residentMegabytes());
                std::fflush(stdout);
                QCoreApplication::exit(0);
            });
        }
        return QObject::eventFilter(watched, event);
    }

private:
    long long firstPaintNs_ = 0;
};

enum class Child { Program, BareWindow, BareWindowWithText };

int runChild(int argc, char** argv, Child child) {
    QApplication app(argc, argv);
    FirstPaintWatch watch;
    if (child == Child::Program) {
        lyravox::ui::Program program;
        program.mainWindow().installEventFilter(&watch);
        program.show();
        return QApplication::exec();
    }
    QWidget window;
    window.resize(Form1::widthPx, Form1::heightPx);
    // Any text makes Qt load the system's font database (fontconfig), which an empty window never
    // does; this one shows what a window with one line of text pays.
    if (child == Child::BareWindowWithText)
        (new QLabel(QStringLiteral("Lyravox"), &window))->move(10, 10);
    window.installEventFilter(&watch);
    window.show();
    return QApplication::exec();
}

struct Sample {
    double firstPaintMs;
    double residentMb;
};

bool runOnce(const char* self, const char* mode, Sample& sample) {
    int out[2];
    if (::pipe(out) != 0)
        return false;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    char* argv[] = {const_cast<char*>(self), const_cast<char*>(mode), nullptr};
    pid_t pid = 0;
    const long long spawnNs = steadyNowNs();
    const int failed = ::posix_spawn(&pid, self, &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(out[1]);
    if (failed != 0) {
        ::close(out[0]);
        return false;
    }
    std::string text;
    char buffer[256];
    for (ssize_t n; (n = ::read(out[0], buffer, sizeof buffer)) > 0;)
        text.append(buffer, static_cast<std::size_t>(n));
    ::close(out[0]);
    int status = 0;
    ::waitpid(pid, &status, 0);
    long long paintNs = 0;
    double residentMb = 0;
    if (std::sscanf(text.c_str(), "%lld %lf", &paintNs, &residentMb) != 2)
        return false;
    sample = {static_cast<double>(paintNs - spawnNs) / 1e6, residentMb};
    return true;
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
    if (argc > 1 && std::strcmp(argv[1], "--program") == 0)
        return runChild(argc, argv, Child::Program);
    if (argc > 1 && std::strcmp(argv[1], "--bare") == 0)
        return runChild(argc, argv, Child::BareWindow);
    if (argc > 1 && std::strcmp(argv[1], "--bare-text") == 0)
        return runChild(argc, argv, Child::BareWindowWithText);

    // No display here: Qt's offscreen platform still paints into the window's backing store.
    if (std::getenv("DISPLAY") == nullptr && std::getenv("WAYLAND_DISPLAY") == nullptr)
        ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    std::vector<double> programMs, bareMs, programMb, bareMb, textMs;
    for (int run = 0; run < kRuns; ++run) {
        Sample sample{};
        // Alternating, so the machine's load falls on both alike.
        if (runOnce(argv[0], "--program", sample)) {
            programMs.push_back(sample.firstPaintMs);
            programMb.push_back(sample.residentMb);
        }
        if (runOnce(argv[0], "--bare", sample)) {
            bareMs.push_back(sample.firstPaintMs);
            bareMb.push_back(sample.residentMb);
        }
        if (runOnce(argv[0], "--bare-text", sample))
            textMs.push_back(sample.firstPaintMs);
    }
    if (programMs.empty() || bareMs.empty()) {
        std::printf("startup_unavailable 1 flag\n");
        return 1;
    }
    std::printf("startup_first_paint_median %.1f ms\n", median(programMs));
    std::printf("startup_bare_qt_first_paint_median %.1f ms\n", median(bareMs));
    std::printf("startup_first_paint_ratio_to_bare_qt %.2f x\n",
                median(programMs) / median(bareMs));
    if (!textMs.empty()) {
        std::printf("startup_bare_qt_with_text_first_paint_median %.1f ms\n", median(textMs));
        std::printf("startup_first_paint_ratio_to_bare_qt_with_text %.2f x\n",
                    median(programMs) / median(textMs));
    }
    std::printf("startup_resident_memory_median %.1f MB\n", median(programMb));
    std::printf("startup_bare_qt_resident_memory_median %.1f MB\n", median(bareMb));
    return 0;
}
