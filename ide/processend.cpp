#include "processend.h"

#include <QCoreApplication>
#include <QThread>

#include <cstdlib>
#include <utility>

#ifdef Q_OS_UNIX
#include <QSocketNotifier>

#include <array>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>
#endif

namespace kesto {

namespace {

// Only the main thread reads or changes it.
std::function<void()> lastCall;

// Qt calls exit(1) on the main thread when the display goes away; the
// window may be read from there. From any other thread it may not.
void callAtExit()
{
    const QCoreApplication *app = QCoreApplication::instance();
    if (app && QThread::currentThread() == app->thread() && lastCall)
        std::exchange(lastCall, nullptr)();
}

#ifdef Q_OS_UNIX
constexpr std::array watchedSignals = {SIGTERM, SIGHUP};
int signalPipe[2] = {-1, -1};
struct sigaction formerActions[watchedSignals.size()];
bool watching[watchedSignals.size()] = {};
// Left to the end of the process when exit() comes while watching: no
// destructor of it may run after Qt's.
QSocketNotifier *notifier = nullptr;

// Nothing but what is safe in a signal handler: the event loop does the rest.
void onSignal(int signal)
{
    const int saved = errno;
    const auto byte = static_cast<unsigned char>(signal);
    [[maybe_unused]] const ssize_t n = ::write(signalPipe[1], &byte, 1);
    errno = saved;
}

void endBySignal()
{
    unsigned char byte = 0;
    if (::read(signalPipe[0], &byte, 1) != 1)
        return;
    if (lastCall)
        std::exchange(lastCall, nullptr)();
    // Ended as the signal ends a process, so that whoever sent it sees that.
    const int signal = byte;
    struct sigaction byDefault {};
    byDefault.sa_handler = SIG_DFL;
    ::sigaction(signal, &byDefault, nullptr);
    sigset_t only;
    sigemptyset(&only);
    sigaddset(&only, signal);
    ::pthread_sigmask(SIG_UNBLOCK, &only, nullptr);
    ::raise(signal);
    // Only if the signal did not end the process after all: end it as a shell would report it.
    // cppcheck-suppress unreachableCode
    std::_Exit(128 + signal);
}

void watchSignals()
{
    if (::pipe(signalPipe) != 0)
        return;
    for (const int fd : signalPipe) {
        ::fcntl(fd, F_SETFD, FD_CLOEXEC);
        ::fcntl(fd, F_SETFL, O_NONBLOCK);
    }
    notifier = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read);
    QObject::connect(notifier, &QSocketNotifier::activated, notifier, &endBySignal);
    struct sigaction action {};
    action.sa_handler = &onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (std::size_t i = 0; i < watchedSignals.size(); ++i) {
        if (::sigaction(watchedSignals[i], nullptr, &formerActions[i]) != 0 ||
            formerActions[i].sa_handler == SIG_IGN)
            continue;
        watching[i] = ::sigaction(watchedSignals[i], &action, nullptr) == 0;
    }
}

void unwatchSignals()
{
    for (std::size_t i = 0; i < watchedSignals.size(); ++i) {
        if (std::exchange(watching[i], false))
            ::sigaction(watchedSignals[i], &formerActions[i], nullptr);
    }
    delete std::exchange(notifier, nullptr);
    for (int &fd : signalPipe) {
        if (fd >= 0)
            ::close(std::exchange(fd, -1));
    }
}
#else
// Windows has no SIGTERM or SIGHUP to watch here.
void watchSignals() {}
void unwatchSignals() {}
#endif

} // namespace

EndWatch::EndWatch(std::function<void()> call)
{
    // exit() handlers cannot be taken back: registered once, they look at
    // lastCall, which the watch's end clears.
    static const bool registered = std::atexit(&callAtExit) == 0;
    Q_UNUSED(registered);
    lastCall = std::move(call);
    watchSignals();
}

EndWatch::~EndWatch()
{
    unwatchSignals();
    lastCall = nullptr;
}

} // namespace kesto
