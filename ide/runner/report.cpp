#include "report.h"

#include <charconv>

namespace kesto::runner {

namespace {

// The longest first line a well-behaved helper sends.
constexpr std::size_t lineLimit = 200;
// Beyond what the helper keeps, in case a message claims more.
constexpr std::size_t textLimit = printedLimit + 4096;

const char *kindWord(Outcome::Kind kind)
{
    switch (kind) {
    case Outcome::Exited: return "exited";
    case Outcome::Interrupted: return "interrupted";
    case Outcome::NotStarted: break;
    }
    return "notstarted";
}

template <typename Number> bool parseNumber(std::string_view &rest, Number &out)
{
    const std::size_t blank = rest.find(' ');
    const std::string_view word = rest.substr(0, blank);
    const auto [end, error] = std::from_chars(word.data(), word.data() + word.size(), out);
    if (word.empty() || error != std::errc() || end != word.data() + word.size())
        return false;
    rest.remove_prefix(blank == std::string_view::npos ? rest.size() : blank + 1);
    return true;
}

} // namespace

std::string helloMessage(std::string_view id, unsigned long long window)
{
    std::string message("hello ");
    message += id;
    message += ' ';
    message += std::to_string(window);
    message += '\n';
    return message;
}

std::string endMessage(const Outcome &outcome, std::string_view printed)
{
    // Appended one by one: GCC 12 at -O3 warns of a literal + string&& (bug 105329).
    std::string message("end ");
    message += kindWord(outcome.kind);
    for (const std::string &number : {std::to_string(outcome.code), std::to_string(outcome.detail.size()),
                                      std::to_string(printed.size())}) {
        message += ' ';
        message += number;
    }
    message += '\n';
    message += outcome.detail;
    message += printed;
    return message;
}

bool ReportReader::takeLine(std::string &line)
{
    const std::size_t end = m_buffer.find('\n');
    if (end == std::string::npos) {
        if (m_buffer.size() > lineLimit)
            m_state = State::Broken;
        return false;
    }
    line = m_buffer.substr(0, end);
    m_buffer.erase(0, end + 1);
    return true;
}

void ReportReader::feed(std::string_view bytes)
{
    if (m_state == State::Ended || m_state == State::Broken)
        return;
    m_buffer += bytes;
    std::string line;
    if (m_state == State::AwaitingHello && takeLine(line)) {
        std::string_view rest(line);
        const std::size_t blank = rest.rfind(' ');
        if (rest.substr(0, 6) != "hello " || blank <= 6) {
            m_state = State::Broken;
            return;
        }
        m_id = line.substr(6, blank - 6);
        rest.remove_prefix(blank + 1);
        if (!parseNumber(rest, m_window) || !rest.empty()) {
            m_state = State::Broken;
            return;
        }
        m_state = State::Running;
    }
    if (m_state == State::Running)
        readEnd();
}

void ReportReader::readEnd()
{
    if (!m_headerRead) {
        std::string line;
        if (!takeLine(line))
            return;
        std::string_view rest(line);
        const std::pair<std::string_view, Outcome::Kind> kinds[] = {
            {"end exited ", Outcome::Exited},
            {"end interrupted ", Outcome::Interrupted},
            {"end notstarted ", Outcome::NotStarted}};
        bool known = false;
        for (const auto &[word, kind] : kinds) {
            if (!known && rest.substr(0, word.size()) == word) {
                m_outcome.kind = kind;
                rest.remove_prefix(word.size());
                known = true;
            }
        }
        if (!known || !parseNumber(rest, m_outcome.code) || !parseNumber(rest, m_detailSize) ||
            !parseNumber(rest, m_printedSize) || !rest.empty() || m_detailSize > textLimit ||
            m_printedSize > textLimit) {
            m_state = State::Broken;
            return;
        }
        m_headerRead = true;
    }
    if (m_buffer.size() < m_detailSize + m_printedSize)
        return;
    m_outcome.detail = m_buffer.substr(0, m_detailSize);
    m_printed = m_buffer.substr(m_detailSize, m_printedSize);
    m_buffer.clear();
    m_state = State::Ended;
}

} // namespace kesto::runner
