#pragma once
// Drives programs in an X server the way a user does and watches what a user
// sees: windows appearing and their captions changing. Key presses go in
// through the XTEST extension, as xdotool sends them; every wait reports the
// moment the server told us of the change, so timings are not rounded to a
// polling interval.

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace xdriver {

// Seconds on the monotonic clock.
double now();

using TitleTest = std::function<bool(const std::string &)>;

class Session {
public:
    // Connects to $DISPLAY; null when there is no X server or no XTEST.
    static std::unique_ptr<Session> open();
    ~Session();
    Session(const Session &) = delete;
    Session &operator=(const Session &) = delete;

    // Waits until a top-level window of process `pid` is mapped with a
    // caption that passes `test`; returns the window (0 on timeout) and the
    // moment that became true in `at`.
    unsigned long waitWindow(int pid, const TitleTest &test, double timeout, double *at = nullptr);
    // Waits until the caption of `window` passes `test`; returns the moment,
    // or a negative number on timeout.
    double waitTitle(unsigned long window, const TitleTest &test, double timeout);
    std::string title(unsigned long window);

    void focus(unsigned long window);
    // Presses and releases a key given as xdotool names it ("Return",
    // "ctrl+End", "a"); returns the moment just before the press was sent.
    double key(const std::string &combination);
    // Types printable ASCII text.
    void type(const std::string &text);

private:
    struct Impl;
    explicit Session(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> d;
};

} // namespace xdriver
