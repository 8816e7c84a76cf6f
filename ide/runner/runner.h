#pragma once
// kestoide-run: the small helper through which the program starts the lab's
// tools, each in a terminal (Linux) or a console (Windows) of its own. It
// runs the tool without a shell, then says how the tool ended and waits for
// Enter, so that the student can read what the tool printed before the
// window goes. Plain C++ without Qt: it starts at once and needs no DLLs.
//
//   kestoide-run (--always | --on-failure) [--title TEXT] [--wine] [--path N]... -- TOOL [ARG]...
//
// --always waits for Enter whatever the end (Compile); --on-failure only
// when the tool did not end with code 0 (Run). --title names the console
// window on Windows (xterm's own -T does it on Linux). --wine runs TOOL, a
// Windows program, through Wine; each --path N names an argument (1 for the
// first after TOOL) that Wine gets as a Windows path. Exit status: the
// tool's, 128 + the signal (or the low bits of the exception code) that
// ended it, or 127 when it did not start.

#include <cstddef>
#include <string>
#include <vector>

namespace kesto::runner {

template <typename Char> struct Request {
    bool waitAlways = false;
    bool throughWine = false;
    std::basic_string<Char> title;
    std::vector<std::size_t> pathArguments;       // 1-based, among the tool's arguments
    std::vector<std::basic_string<Char>> command; // the tool, then its arguments
};

// Reads the helper's own arguments (argv[0] left out); false on a usage error.
template <typename Char> bool parseRequest(int argc, Char **argv, Request<Char> &request)
{
    const auto is = [](const Char *arg, const char *word) {
        for (; *word != '\0'; ++arg, ++word)
            if (*arg != static_cast<Char>(*word))
                return false;
        return *arg == Char(0);
    };
    bool when = false;
    int i = 1;
    for (; i < argc && !is(argv[i], "--"); ++i) {
        if (is(argv[i], "--always") || is(argv[i], "--on-failure")) {
            request.waitAlways = is(argv[i], "--always");
            when = true;
        } else if (is(argv[i], "--title") && i + 1 < argc) {
            request.title = argv[++i];
        } else if (is(argv[i], "--wine")) {
            request.throughWine = true;
        } else if (is(argv[i], "--path") && i + 1 < argc) {
            std::size_t n = 0;
            for (const Char *d = argv[++i]; *d != Char(0); ++d) {
                if (*d < Char('0') || *d > Char('9') || n > 1000)
                    return false;
                n = n * 10 + static_cast<std::size_t>(*d - Char('0'));
            }
            if (n == 0)
                return false;
            request.pathArguments.push_back(n);
        } else {
            return false;
        }
    }
    for (++i; i < argc; ++i)
        request.command.emplace_back(argv[i]);
    return when && !request.command.empty();
}

// How the tool ended.
struct Outcome {
    enum Kind { Exited, Interrupted, NotStarted } kind = NotStarted;
    unsigned long code = 0; // the exit code, or the signal's number
    std::string detail;     // UTF-8: what interrupted the tool, or why it did not start
};

// The line printed at the end, in UTF-8; the same on every system.
std::string closingLine(const Outcome &outcome);
inline bool succeeded(const Outcome &o) { return o.kind == Outcome::Exited && o.code == 0; }
int exitStatus(const Outcome &o);

// The system's part (posix.cpp, windows.cpp).
// Runs the tool (through Wine when asked) and waits for its end.
template <typename Char> Outcome runTool(const Request<Char> &request);
// Prints UTF-8 text where the student sees it.
void show(const std::string &utf8);
// Waits until Enter is pressed, or the input is closed. What was typed
// while the tool ran does not count.
void waitForEnter();

} // namespace kesto::runner
