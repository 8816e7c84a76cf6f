// The helper on Windows: it runs in the console the program opened for it,
// and the tool shares that console and the window state the program asked for.

#ifdef _WIN32

#include "runner.h"

#include <windows.h>

#include <cstdint>

namespace kesto::runner {
namespace {

// One argument as the C runtime of the tool splits its command line back:
// quoted when it holds a blank, a tab or a quote (or is empty), a quote
// escaped, and the backslashes before a quote, or before the closing one,
// doubled.
void appendQuoted(std::wstring &line, const std::wstring &arg)
{
    if (!arg.empty() && arg.find_first_of(L" \t\n\v\"") == std::wstring::npos) {
        line += arg;
        return;
    }
    line += L'"';
    std::size_t backslashes = 0;
    for (const wchar_t c : arg) {
        if (c == L'\\') {
            ++backslashes;
            continue;
        }
        line.append(c == L'"' ? 2 * backslashes + 1 : backslashes, L'\\');
        backslashes = 0;
        line += c;
    }
    line.append(2 * backslashes, L'\\');
    line += L'"';
}

std::wstring wide(const std::string &utf8)
{
    const int n = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
    std::wstring out(static_cast<std::size_t>(n > 0 ? n : 0), L'\0');
    if (n > 0)
        MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), out.data(), n);
    return out;
}

std::string utf8(const std::wstring &text)
{
    const int n = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0,
                                      nullptr, nullptr);
    std::string out(static_cast<std::size_t>(n > 0 ? n : 0), '\0');
    if (n > 0)
        WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), n, nullptr,
                            nullptr);
    return out;
}

std::string systemMessage(DWORD error)
{
    wchar_t *text = nullptr;
    const DWORD n = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                       FORMAT_MESSAGE_IGNORE_INSERTS,
                                   nullptr, error, 0, reinterpret_cast<wchar_t *>(&text), 0, nullptr);
    std::wstring message = n > 0 && text ? std::wstring(text, n) : L"błąd " + std::to_wstring(error);
    if (text)
        LocalFree(text);
    while (!message.empty() && (message.back() == L'\n' || message.back() == L'\r' || message.back() == L'.'))
        message.pop_back();
    return utf8(message);
}

// Ctrl+C and Ctrl+Break in the console end the tool, not the helper that
// tells of it. (A handler, unlike ignoring them outright, is not inherited.)
BOOL WINAPI keepHelper(DWORD event) { return event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT; }

std::string whyNot(DWORD error, const std::wstring &path)
{
    std::string name(1, '"'); // appended: GCC 12 at -O3 warns of a literal + string&& (bug 105329)
    name += utf8(path);
    name += '"';
    switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND: return "brak pliku " + name;
    case ERROR_ACCESS_DENIED: return "brak prawa do wykonania pliku " + name;
    // A DOS or 16-bit program, one for another processor, or no program at all.
    case ERROR_BAD_EXE_FORMAT:
    case ERROR_EXE_MACHINE_TYPE_MISMATCH:
    case ERROR_BAD_FORMAT: return "plik " + name + " nie jest programem, który ten system umie uruchomić";
    default: return name + ": " + systemMessage(error);
    }
}

// The part of the console the tool writes into, read back once it has
// ended: the text as the console shows it, whatever code page the tool
// printed in. The buffer is made tall enough first, so that nothing the tool
// printed scrolls out of it before it is read.
class ConsoleCopy {
public:
    ConsoleCopy() : m_out(GetStdHandle(STD_OUTPUT_HANDLE))
    {
        CONSOLE_SCREEN_BUFFER_INFO info;
        if (!GetConsoleScreenBufferInfo(m_out, &info))
            return;
        constexpr SHORT tall = 9999;
        if (info.dwSize.Y < tall)
            SetConsoleScreenBufferSize(m_out, COORD{info.dwSize.X, tall});
        m_start = info.dwCursorPosition;
        m_console = true;
    }
    std::string text() const
    {
        CONSOLE_SCREEN_BUFFER_INFO info;
        if (!m_console || !GetConsoleScreenBufferInfo(m_out, &info))
            return {};
        std::wstring all, row(static_cast<std::size_t>(info.dwSize.X), L' ');
        for (SHORT y = m_start.Y; y <= info.dwCursorPosition.Y; ++y) {
            const SHORT from = y == m_start.Y ? m_start.X : SHORT(0);
            const SHORT to = y == info.dwCursorPosition.Y ? info.dwCursorPosition.X : info.dwSize.X;
            DWORD got = 0;
            if (to <= from ||
                !ReadConsoleOutputCharacterW(m_out, row.data(), DWORD(to - from), COORD{from, y}, &got))
                got = 0;
            std::wstring line = row.substr(0, got);
            line.erase(line.find_last_not_of(L' ') + 1);
            all += line;
            if (y < info.dwCursorPosition.Y)
                all += L'\n';
            if (all.size() > printedLimit)
                break;
        }
        std::string out = utf8(all);
        return out.size() > printedLimit ? out.substr(0, printedLimit) : out;
    }

private:
    HANDLE m_out;
    COORD m_start{};
    bool m_console = false;
};

} // namespace

template <> ReportLink::ReportLink(const std::wstring &name)
{
    if (name.empty())
        return;
    // The program's pipe has an instance waiting for each next helper; one
    // started at the same moment as another may find none free for a while.
    for (int attempt = 0; attempt < 20; ++attempt) {
        const HANDLE pipe = CreateFileW(name.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                        FILE_FLAG_OVERLAPPED, nullptr);
        if (pipe != INVALID_HANDLE_VALUE) {
            m_handle = pipe;
            return;
        }
        if (GetLastError() != ERROR_PIPE_BUSY || !WaitNamedPipeW(name.c_str(), 250))
            Sleep(50);
    }
}

ReportLink::~ReportLink()
{
    if (m_handle)
        CloseHandle(m_handle);
}

void ReportLink::send(const std::string &bytes)
{
    if (!m_handle)
        return;
    // A program that has gone, or stopped reading for seconds, is not told:
    // the student's window matters more.
    OVERLAPPED overlapped{};
    overlapped.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    DWORD written = 0;
    bool sent = WriteFile(m_handle, bytes.data(), DWORD(bytes.size()), &written, &overlapped) != 0;
    if (!sent && GetLastError() == ERROR_IO_PENDING) {
        if (WaitForSingleObject(overlapped.hEvent, 5000) != WAIT_OBJECT_0)
            CancelIo(m_handle);
        sent = GetOverlappedResult(m_handle, &overlapped, &written, TRUE) && written == bytes.size();
    }
    CloseHandle(overlapped.hEvent);
    if (!sent) {
        CloseHandle(m_handle);
        m_handle = nullptr;
    }
}

template <> Outcome runTool(const Request<wchar_t> &request, std::string *printed)
{
    Outcome outcome;
    if (!request.title.empty())
        SetConsoleTitleW(request.title.c_str());
    SetConsoleCtrlHandler(keepHelper, TRUE);
    // The program's name is taken up to its closing quote, with no escapes:
    // Windows names hold no quote.
    std::wstring line = L"\"" + request.command.front() + L"\"";
    for (std::size_t i = 1; i < request.command.size(); ++i) {
        line += L' ';
        appendQuoted(line, request.command[i]);
    }
    // The tool gets the window state the program gave the helper (normal
    // for Compile, minimised without the focus for Run): a tool that opens
    // a window of its own opens it so. No new console: the tool writes into
    // the helper's, through the helper's own standard handles, given on
    // explicitly so that a redirected helper's tool is redirected too.
    STARTUPINFOW own{};
    own.cb = sizeof own;
    GetStartupInfoW(&own);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = (own.dwFlags & STARTF_USESHOWWINDOW) | STARTF_USESTDHANDLES;
    startup.wShowWindow = own.wShowWindow;
    HANDLE *const handles[] = {&startup.hStdInput, &startup.hStdOutput, &startup.hStdError};
    const DWORD which[] = {STD_INPUT_HANDLE, STD_OUTPUT_HANDLE, STD_ERROR_HANDLE};
    for (int i = 0; i < 3; ++i) {
        *handles[i] = GetStdHandle(which[i]);
        if (*handles[i] != nullptr && *handles[i] != INVALID_HANDLE_VALUE)
            SetHandleInformation(*handles[i], HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT);
    }
    const ConsoleCopy copy;
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(request.command.front().c_str(), line.data(), nullptr, nullptr, TRUE, 0, nullptr,
                        nullptr, &startup, &process)) {
        outcome.detail = whyNot(GetLastError(), request.command.front());
        return outcome;
    }
    CloseHandle(process.hThread);
    WaitForSingleObject(process.hProcess, INFINITE);
    DWORD code = 0;
    GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hProcess);
    if (printed)
        *printed = copy.text();
    // Only the system's exceptions (an access violation, say) have codes
    // from 0xC0000000 to 0xCFFFFFFF; any other code is the tool's own int,
    // -1 included.
    if (code >= 0xC0000000UL && code <= 0xCFFFFFFFUL) {
        char hex[16];
        wsprintfA(hex, "%08lX", code);
        outcome.kind = Outcome::Interrupted;
        outcome.code = code;
        outcome.detail = std::string("wyjątek 0x") + hex;
    } else {
        outcome.kind = Outcome::Exited;
        outcome.code = static_cast<int>(code);
    }
    return outcome;
}

void show(const std::string &text)
{
    // A console takes UTF-16 whatever its code page; anything else gets UTF-8.
    const HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
    DWORD mode = 0, written = 0;
    if (GetConsoleMode(out, &mode)) {
        const std::wstring w = wide(text);
        WriteConsoleW(out, w.data(), static_cast<DWORD>(w.size()), &written, nullptr);
    } else {
        WriteFile(out, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    }
}

unsigned long long ownWindow() { return reinterpret_cast<std::uintptr_t>(GetConsoleWindow()); }

void waitForEnter()
{
    const HANDLE in = GetStdHandle(STD_INPUT_HANDLE);
    DWORD mode = 0;
    const bool console = GetConsoleMode(in, &mode);
    if (console)
        FlushConsoleInputBuffer(in);
    for (;;) {
        wchar_t c = 0;
        DWORD got = 0;
        const BOOL ok = console ? ReadConsoleW(in, &c, 1, &got, nullptr) : ReadFile(in, &c, 1, &got, nullptr);
        if (!ok || got == 0 || c == L'\r' || c == L'\n')
            return;
    }
}

} // namespace kesto::runner

#endif // _WIN32
