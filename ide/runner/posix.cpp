// The helper on Linux and other Unix systems: the tool is spawned without a
// shell in the helper's terminal, Windows programs through Wine.

#ifndef _WIN32

#include "runner.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <spawn.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

extern char **environ;

namespace kesto::runner {
namespace {

std::string whyNot(int error, const std::string &path)
{
    switch (error) {
    case ENOENT: return "brak pliku \"" + path + "\" albo programu, który ma go wykonać";
    case EACCES: return "brak prawa do wykonania pliku \"" + path + "\"";
    case ENOEXEC: return "plik \"" + path + "\" nie jest programem, który ten system umie uruchomić";
    default: return "\"" + path + "\": " + std::strerror(error);
    }
}

// Starts `argv` (its first word looked up in PATH when `search`) with the
// default answer to Ctrl+C and Ctrl+\, which the helper itself ignores, and
// `output` (when not -1) as its standard output.
int spawn(const std::vector<std::string> &argv, bool search, int output, pid_t &pid)
{
    std::vector<char *> args(argv.size() + 1, nullptr);
    std::transform(argv.begin(), argv.end(), args.begin(),
                   [](const std::string &a) { return const_cast<char *>(a.c_str()); });
    posix_spawnattr_t attr;
    posix_spawn_file_actions_t actions;
    posix_spawnattr_init(&attr);
    posix_spawn_file_actions_init(&actions);
    sigset_t defaults;
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGINT);
    sigaddset(&defaults, SIGQUIT);
    posix_spawnattr_setsigdefault(&attr, &defaults);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGDEF);
    if (output >= 0)
        posix_spawn_file_actions_adddup2(&actions, output, STDOUT_FILENO);
    const int error = search ? posix_spawnp(&pid, args[0], &actions, &attr, args.data(), environ)
                             : posix_spawn(&pid, args[0], &actions, &attr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attr);
    return error;
}

int waitFor(pid_t pid)
{
    int status = 0;
    while (waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR)
            return -1;
    }
    return status;
}

// The Windows form of a path, as Wine's own `winepath -w` gives it.
bool windowsPath(const std::string &path, std::string &out)
{
    int pipeEnds[2];
    if (pipe(pipeEnds) != 0)
        return false;
    pid_t pid = 0;
    const int error = spawn({"winepath", "-w", path}, true, pipeEnds[1], pid);
    close(pipeEnds[1]);
    out.clear();
    char buffer[4096];
    for (ssize_t got = 0; error == 0;) {
        got = read(pipeEnds[0], buffer, sizeof buffer);
        if (got > 0)
            out.append(buffer, static_cast<std::size_t>(got));
        else if (got == 0 || errno != EINTR)
            break;
    }
    close(pipeEnds[0]);
    if (error != 0)
        return false;
    const int status = waitFor(pid);
    while (!out.empty() && (out.back() == '\n' || out.back() == '\r'))
        out.pop_back();
    return WIFEXITED(status) && WEXITSTATUS(status) == 0 && !out.empty();
}

const char *signalName(int sig)
{
    switch (sig) {
    case SIGSEGV: return "SIGSEGV";
    case SIGABRT: return "SIGABRT";
    case SIGFPE: return "SIGFPE";
    case SIGILL: return "SIGILL";
    case SIGBUS: return "SIGBUS";
    case SIGKILL: return "SIGKILL";
    case SIGTERM: return "SIGTERM";
    case SIGINT: return "SIGINT";
    case SIGQUIT: return "SIGQUIT";
    case SIGHUP: return "SIGHUP";
    case SIGPIPE: return "SIGPIPE";
    default: return nullptr;
    }
}

} // namespace

template <> Outcome runTool(const Request<char> &request)
{
    Outcome outcome;
    std::vector<std::string> argv = request.command;
    if (request.throughWine) {
        for (const std::size_t n : request.pathArguments) {
            if (n >= argv.size())
                continue;
            std::string converted;
            if (!windowsPath(argv[n], converted)) {
                outcome.detail = "Wine nie podał ścieżki Windows pliku \"" + argv[n] + "\"";
                return outcome;
            }
            argv[n] = converted;
        }
        argv.insert(argv.begin(), "wine");
    }
    // The student's Ctrl+C ends the tool, not the helper that tells of it.
    std::signal(SIGINT, SIG_IGN);
    std::signal(SIGQUIT, SIG_IGN);
    pid_t pid = 0;
    if (const int error = spawn(argv, request.throughWine, -1, pid)) {
        outcome.detail = whyNot(error, argv.front());
        return outcome;
    }
    const int status = waitFor(pid);
    std::signal(SIGINT, SIG_DFL);
    std::signal(SIGQUIT, SIG_DFL);
    if (status >= 0 && WIFEXITED(status)) {
        outcome.kind = Outcome::Exited;
        outcome.code = static_cast<unsigned long>(WEXITSTATUS(status));
    } else if (status >= 0 && WIFSIGNALED(status)) {
        const int sig = WTERMSIG(status);
        outcome.kind = Outcome::Interrupted;
        outcome.code = static_cast<unsigned long>(sig);
        const char *name = signalName(sig);
        outcome.detail = "sygnał " + std::to_string(sig) + (name ? std::string(", ") + name : std::string());
    } else {
        outcome.kind = Outcome::Interrupted;
        outcome.detail = "nie wiadomo, jak zakończyło pracę";
    }
    return outcome;
}

void show(const std::string &utf8)
{
    std::size_t done = 0;
    while (done < utf8.size()) {
        const ssize_t n = write(STDOUT_FILENO, utf8.data() + done, utf8.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return;
        done += static_cast<std::size_t>(n);
    }
}

void waitForEnter()
{
    if (isatty(STDIN_FILENO))
        tcflush(STDIN_FILENO, TCIFLUSH);
    char c = 0;
    for (;;) {
        const ssize_t n = read(STDIN_FILENO, &c, 1);
        if ((n < 0 && errno != EINTR) || n == 0 || (n == 1 && (c == '\n' || c == '\r')))
            return;
    }
}

} // namespace kesto::runner

#endif // !_WIN32
