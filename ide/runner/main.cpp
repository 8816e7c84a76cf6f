// kestoide-run: runs one of the lab's tools, tells the program how it ended,
// then says so in its window (see runner.h).

#include "report.h"
#include "runner.h"

#include <cstdio>

namespace kesto::runner {

std::string closingLines(const Outcome &o)
{
    std::string text;
    switch (o.kind) {
    case Outcome::Exited: text = "Narzędzie zakończyło pracę z kodem " + std::to_string(o.code) + "."; break;
    case Outcome::Interrupted: text = "Narzędzie zostało przerwane (" + o.detail + ")."; break;
    case Outcome::NotStarted: text = "Nie można uruchomić narzędzia: " + o.detail + "."; break;
    }
    return text + "\nNaciśnij Enter, aby zamknąć okno.";
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
        std::fputs("Użycie: kestoide-run (--always | --on-failure) [--title TYTUŁ] [--wine] [--path N]... "
                   "[--locale NAZWA] [--report NAZWA --id ID [--output]] -- NARZĘDZIE [ARGUMENT]...\n",
                   stderr);
        return 2;
    }
    ReportLink report(request.report);
    if (!request.id.empty())
        report.send(helloMessage(std::string(request.id.begin(), request.id.end()), ownWindow()));
    std::string printed;
    const Outcome outcome = runTool(request, request.sendOutput ? &printed : nullptr);
    // The program learns of the end at once, not when Enter is pressed.
    report.send(endMessage(outcome, printed));
    if (request.waitAlways || !succeeded(outcome)) {
        // Built by appending: GCC 12 at -O3 warns of a literal + string&& (bug 105329).
        std::string text(1, '\n');
        text += closingLines(outcome);
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
