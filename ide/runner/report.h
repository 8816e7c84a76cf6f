#pragma once
// What kestoide-run tells the program, and how. The program listens on a
// local socket (a named pipe on Windows) whose name it gives the helper on
// its command line, with the ID of the start the helper is for; no handle
// is inherited. The helper connects as it starts and stays connected while
// it runs, so that a helper that goes without a word (killed, its window
// closed) is seen to have gone. It sends:
//
//   hello ID WINDOW\n                              as it starts
//   end KIND CODE DETAIL PRINTED\n<detail><printed>  as soon as the tool has ended
//
// WINDOW is the helper's window (xterm's, or the console's), 0 when not
// known: a failed Run's window, which started minimised, is shown again
// from there. KIND is exited, interrupted or notstarted; CODE the exit code as a signed
// decimal (for interrupted: the signal or the exception's code); DETAIL and
// PRINTED the sizes in bytes of the UTF-8 texts that follow: what
// interrupted the tool or why it did not start, and what it printed.
//
// Plain C++, shared by the helper (which writes) and the program (which reads).

#include "runner.h"

#include <string>
#include <string_view>

namespace kesto::runner {

std::string helloMessage(std::string_view id, unsigned long long window);
std::string endMessage(const Outcome &outcome, std::string_view printed);

// The program's reading of one helper's messages, fed as they arrive.
class ReportReader {
public:
    enum class State { AwaitingHello, Running, Ended, Broken };
    void feed(std::string_view bytes);
    State state() const { return m_state; }
    const std::string &id() const { return m_id; }
    unsigned long long window() const { return m_window; }
    // Once Ended:
    const Outcome &outcome() const { return m_outcome; }
    const std::string &printed() const { return m_printed; }

private:
    bool takeLine(std::string &line);
    void readEnd();

    State m_state = State::AwaitingHello;
    std::string m_buffer;
    std::string m_id;
    unsigned long long m_window = 0;
    Outcome m_outcome;
    std::string m_printed;
    std::size_t m_detailSize = 0, m_printedSize = 0;
    bool m_headerRead = false;
};

} // namespace kesto::runner
