#pragma once
// kestoide-run: the small helper through which the program starts the lab's
// tools, each in a terminal (Linux) or a console (Windows) of its own. It
// runs the tool without a shell, tells the program how the tool ended, then
// says so in its window and waits for Enter, so that the student can read
// what the tool printed before the window goes. Plain C++ without Qt: it
// starts at once and needs no DLLs.
//
//   kestoide-run (--always | --on-failure) [--title TEXT] [--wine] [--path N]...
//                [--locale NAME] [--report NAME --id ID [--output]] -- TOOL [ARG]...
//
// --always waits for Enter whatever the end (Compile); --on-failure only
// when the tool did not end with code 0 (Run). --title names the
// console window on Windows (xterm's own -T does it on Linux). --wine runs
// TOOL, a Windows program, through Wine, in the locale NAME when given;
// each --path N names an argument (1 for the first after TOOL) that Wine
// gets as a Windows path. --report names where the program listens for the
// end of the tool (report.h), ID the start it is for; --output sends what
// the tool printed along. Exit status: the tool's, 128 + the signal (or the
// low bits of the exception code) that ended it, or 127 when it did not start.

#include <cstddef>
#include <string>
#include <vector>

namespace kesto::runner {

template <typename Char> struct Request {
    bool waitAlways = false;
    bool throughWine = false;
    bool sendOutput = false;
    std::basic_string<Char> title;
    std::basic_string<Char> locale;
    std::basic_string<Char> report;
    std::basic_string<Char> id;
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
        const bool valued = i + 1 < argc;
        if (is(argv[i], "--always") || is(argv[i], "--on-failure")) {
            request.waitAlways = is(argv[i], "--always");
            when = true;
        } else if (is(argv[i], "--wine")) {
            request.throughWine = true;
        } else if (is(argv[i], "--output")) {
            request.sendOutput = true;
        } else if (valued && is(argv[i], "--title")) {
            request.title = argv[++i];
        } else if (valued && is(argv[i], "--locale")) {
            request.locale = argv[++i];
        } else if (valued && is(argv[i], "--report")) {
            request.report = argv[++i];
        } else if (valued && is(argv[i], "--id")) {
            request.id = argv[++i];
        } else if (valued && is(argv[i], "--path")) {
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
    return when && !request.command.empty() && request.report.empty() == request.id.empty();
}

// How the tool ended.
struct Outcome {
    enum Kind { Exited, Interrupted, NotStarted } kind = NotStarted;
    long long code = 0; // the exit code as the tool's int, or the signal's number, or the exception's code
    std::string detail; // UTF-8: what interrupted the tool, or why it did not start
};

// The lines printed at the end, in UTF-8; the same on every system. The
// request for Enter stands on a line of its own, so that no line breaks
// inside a word in an 80-column console.
std::string closingLines(const Outcome &outcome);
inline bool succeeded(const Outcome &o) { return o.kind == Outcome::Exited && o.code == 0; }
int exitStatus(const Outcome &o);

// What the tool printed is kept up to this many bytes, from its start: the
// first error is the one that names a line.
constexpr std::size_t printedLimit = 64 * 1024;

// The helper's end of the report (report.h): connected when the helper
// starts, for as long as it runs. Sends nothing when there is no program to
// tell (no name given, or the program has gone), and never blocks for long.
class ReportLink {
public:
    template <typename Char> explicit ReportLink(const std::basic_string<Char> &name);
    ~ReportLink();
    ReportLink(const ReportLink &) = delete;
    ReportLink &operator=(const ReportLink &) = delete;
    void send(const std::string &bytes);

private:
    void *m_handle = nullptr; // the system's: a socket descriptor, or a pipe's HANDLE
};

// The system's part (posix.cpp, windows.cpp).
// Runs the tool (through Wine when asked) and waits for its end; what it
// printed goes to `printed` too, when given, up to printedLimit.
template <typename Char> Outcome runTool(const Request<Char> &request, std::string *printed);
// Prints UTF-8 text where the student sees it.
void show(const std::string &utf8);
// The helper's window, for the program to show again: xterm's, or the
// console's; 0 when not known.
unsigned long long ownWindow();
// Waits until Enter is pressed, or the input is closed. What was typed
// while the tool ran does not count.
void waitForEnter();

} // namespace kesto::runner
