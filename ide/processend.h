#pragma once
// The ends of the process that the window's close logic never sees: SIGTERM
// and SIGHUP (a logout, a shutdown, `kill`), and the exit() Qt calls when its
// connection to the X server breaks. Each gets one last call on the main
// thread before the process goes, so that unsaved text can be kept.

#include <functional>

namespace kesto {

class EndWatch {
public:
    // From now on `lastCall` runs before such an end. For a signal it runs
    // from the event loop (the handler itself only writes a byte to a pipe),
    // and the signal's default action ends the process afterwards; for
    // exit() it runs among the exit handlers. A signal the process was told
    // to ignore (nohup) stays ignored. One watch at a time; QCoreApplication
    // must exist.
    explicit EndWatch(std::function<void()> lastCall);
    // Ends the watch: the signals get their former handling back, and an
    // exit() from now on (the return from main) calls nothing.
    ~EndWatch();
    EndWatch(const EndWatch &) = delete;
    EndWatch &operator=(const EndWatch &) = delete;
};

} // namespace kesto
