#include "platform/qt_run_time.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>

#if defined(__linux__)
#include <QSocketNotifier>

#include <cerrno>
#include <cstdint>
#include <sys/timerfd.h>
#include <unistd.h>
#endif

namespace lyravox::platform {

namespace {

using std::chrono::nanoseconds;

nanoseconds steadyNow() {
    return std::chrono::duration_cast<nanoseconds>(
            std::chrono::steady_clock::now().time_since_epoch());
}

}  // namespace

// Wakes the event loop at a deadline on the steady clock. Qt's own timers count whole
// milliseconds and fire about 1.1 ms late, which would stretch every rest by that much; a timerfd
// on the same monotonic clock wakes within tens of microseconds.
class QtRunTime::DeadlineAlarm {
public:
    DeadlineAlarm() {
#if defined(__linux__)
        fd_ = ::timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC);
        if (fd_ >= 0) {
            notifier_ = std::make_unique<QSocketNotifier>(fd_, QSocketNotifier::Read);
            QObject::connect(
                    notifier_.get(), &QSocketNotifier::activated, notifier_.get(), [fd = fd_] {
                        // Reading clears the expiry so the notifier quietens.
                        std::uint64_t expiries = 0;
                        while (::read(fd, &expiries, sizeof expiries) < 0 && errno == EINTR) {
                        }
                    });
            return;
        }
#endif
        timer_.setTimerType(Qt::PreciseTimer);
        timer_.setSingleShot(true);
    }

    ~DeadlineAlarm() {
#if defined(__linux__)
        notifier_.reset();
        if (fd_ >= 0)
            ::close(fd_);
#endif
    }

    DeadlineAlarm(const DeadlineAlarm&) = delete;
    DeadlineAlarm& operator=(const DeadlineAlarm&) = delete;

    // Armed anew before every sleep: an inner wait may have re-armed it for its own deadline, and
    // a sleep with nothing armed could last until some unrelated event.
    void armAt(nanoseconds deadline) {
#if defined(__linux__)
        if (fd_ >= 0) {
            itimerspec when{};
            when.it_value.tv_sec = static_cast<time_t>(deadline.count() / 1'000'000'000);
            when.it_value.tv_nsec = static_cast<long>(deadline.count() % 1'000'000'000);
            // An absolute expiry already past fires at once, which is what a late caller wants.
            if (when.it_value.tv_sec == 0 && when.it_value.tv_nsec == 0)
                when.it_value.tv_nsec = 1;
            ::timerfd_settime(fd_, TFD_TIMER_ABSTIME, &when, nullptr);
            return;
        }
#endif
        const auto remaining = std::chrono::ceil<std::chrono::milliseconds>(deadline - steadyNow());
        timer_.start(std::max(remaining, std::chrono::milliseconds(0)));
    }

private:
#if defined(__linux__)
    int fd_ = -1;
    std::unique_ptr<QSocketNotifier> notifier_;
#endif
    QTimer timer_;
};

QtRunTime::QtRunTime() : alarm_(std::make_unique<DeadlineAlarm>()) {}

QtRunTime::~QtRunTime() = default;

nanoseconds QtRunTime::now() const {
    return steadyNow();
}

void QtRunTime::processEvents(nanoseconds deadline) {
    if (deadline <= now()) {
        QCoreApplication::processEvents(QEventLoop::AllEvents);
        return;
    }
    alarm_->armAt(deadline);
    QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
}

void QtRunTime::endProgram(int exitStatus) {
    QCoreApplication::exit(exitStatus);
}

}  // namespace lyravox::platform
