// kestoide-run: runs one of the lab's tools, then tells how it ended (see runner.h).

#include "runner.h"

#include <cstdio>

namespace kesto::runner {

namespace {
// The one text every system prints; a failure to start or an interruption
// ends with the same request.
const std::string pressEnter = "Naciśnij Enter, aby zamknąć okno.";
} // namespace

std::string closingLine(const Outcome &o)
{
    switch (o.kind) {
    case Outcome::Exited:
        return "Narzędzie zakończyło pracę z kodem " + std::to_string(o.code) + ". " + pressEnter;
    case Outcome::Interrupted: return "Narzędzie zostało przerwane (" + o.detail + "). " + pressEnter;
    case Outcome::NotStarted: break;
    }
    return "Nie można uruchomić narzędzia: " + o.detail + ". " + pressEnter;
}

int exitStatus(const Outcome &o)
{
    switch (o.kind) {
    case Outcome::Exited: return static_cast<int>(o.code);
    case Outcome::Interrupted: return 128 + static_cast<int>(o.code & 0x7F);
    case Outcome::NotStarted: break;
    }
    return 127;
}

template <typename Char> int helperMain(int argc, Char **argv)
{
    Request<Char> request;
    if (!parseRequest(argc, argv, request)) {
        std::fputs("Użycie: kestoide-run (--always | --on-failure) [--title TYTUŁ] [--wine] [--path N]... -- "
                   "NARZĘDZIE [ARGUMENT]...\n",
                   stderr);
        return 2;
    }
    const Outcome outcome = runTool(request);
    if (request.waitAlways || !succeeded(outcome)) {
        // Built by appending: GCC 12 at -O3 warns of a literal + string&& (bug 105329).
        std::string text(1, '\n');
        text += closingLine(outcome);
        text += '\n';
        show(text);
        waitForEnter();
    }
    return exitStatus(outcome);
}

} // namespace kesto::runner

#ifdef _WIN32
// Unicode arguments: a path in any language reaches the tool whole.
int wmain(int argc, wchar_t **argv) { return kesto::runner::helperMain(argc, argv); }
#else
int main(int argc, char **argv) { return kesto::runner::helperMain(argc, argv); }
#endif
