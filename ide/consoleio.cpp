#include "consoleio.h"

#include "commandline.h"

#include <cstdio>

#ifdef Q_OS_WIN
#include <algorithm>
#include <memory>

#include <qt_windows.h>
#include <shellapi.h>
#endif

namespace kesto::consoleio {

#ifdef Q_OS_WIN

QStringList systemArguments(int argc, char **argv)
{
    int count = 0;
    const std::unique_ptr<LPWSTR, decltype(&LocalFree)> wide(CommandLineToArgvW(GetCommandLineW(), &count),
                                                             &LocalFree);
    // main()'s arguments are the same split in the ANSI code page; should
    // the two ever disagree, those are what Qt sees too.
    if (!wide || count != argc)
        return commandline::argumentsOf(argc, argv);
    QStringList args;
    for (int i = 1; i < count; ++i)
        args << QString::fromWCharArray(wide.get()[i]);
    return args;
}

namespace {

bool writeAll(HANDLE h, const QString &text)
{
    DWORD mode = 0;
    if (GetConsoleMode(h, &mode)) {
        // A console shows UTF-16 as it is, whatever its own code page (852 in
        // a Polish one) would make of the ANSI bytes.
        const auto *at = reinterpret_cast<const wchar_t *>(text.utf16());
        for (qsizetype left = text.size(); left > 0;) {
            DWORD written = 0;
            if (!WriteConsoleW(h, at, static_cast<DWORD>(std::min<qsizetype>(left, 8192)), &written,
                               nullptr) ||
                written == 0)
                return false;
            at += written;
            left -= written;
        }
        return true;
    }
    // A file or a pipe gets the ANSI code page, as from any Windows program.
    const QByteArray bytes = text.toLocal8Bit();
    const char *at = bytes.constData();
    for (qsizetype left = bytes.size(); left > 0;) {
        DWORD written = 0;
        if (!WriteFile(h, at, static_cast<DWORD>(std::min<qsizetype>(left, 1 << 20)), &written, nullptr) ||
            written == 0)
            return false;
        at += written;
        left -= written;
    }
    return true;
}

} // namespace

bool print(Stream stream, const QString &text)
{
    HANDLE h = GetStdHandle(stream == Stream::Out ? STD_OUTPUT_HANDLE : STD_ERROR_HANDLE);
    // Not redirected: the console of the program that started this one, if
    // it has one (an instance started from the desktop has none to write to).
    if (h == nullptr || h == INVALID_HANDLE_VALUE) {
        if (!AttachConsole(ATTACH_PARENT_PROCESS) && GetLastError() != ERROR_ACCESS_DENIED)
            return false;
        h = CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                        OPEN_EXISTING, 0, nullptr);
        if (h == INVALID_HANDLE_VALUE)
            return false;
    }
    QString lines = text;
    lines.replace(u'\n', QStringLiteral("\r\n"));
    return writeAll(h, lines);
}

#else

QStringList systemArguments(int argc, char **argv) { return commandline::argumentsOf(argc, argv); }

bool print(Stream stream, const QString &text)
{
    std::FILE *out = stream == Stream::Out ? stdout : stderr;
    return std::fputs(text.toLocal8Bit().constData(), out) >= 0 && std::fflush(out) == 0;
}

#endif

} // namespace kesto::consoleio
