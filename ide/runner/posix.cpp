// The helper on Linux and other Unix systems: the tool runs without a shell
// on a pseudo-terminal of its own, which the helper relays to its terminal,
// so that the tool still writes to a real terminal while the helper keeps a
// copy of what it printed. Windows programs run through Wine.

#ifndef _WIN32

#include "runner.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <spawn.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/un.h>
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

bool writeAll(int fd, const char *data, std::size_t size)
{
    while (size > 0) {
        const ssize_t n = write(fd, data, size);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

std::vector<char *> pointers(const std::vector<std::string> &words)
{
    std::vector<char *> out(words.size() + 1, nullptr);
    std::transform(words.begin(), words.end(), out.begin(),
                   [](const std::string &w) { return const_cast<char *>(w.c_str()); });
    return out;
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
    if (pipe2(pipeEnds, O_CLOEXEC) != 0)
        return false;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipeEnds[1], STDOUT_FILENO);
    const std::vector<std::string> argv{"winepath", "-w", path};
    pid_t pid = 0;
    const int error = posix_spawnp(&pid, "winepath", &actions, nullptr, pointers(argv).data(), environ);
    posix_spawn_file_actions_destroy(&actions);
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

Outcome outcomeOf(int status)
{
    Outcome outcome;
    if (status >= 0 && WIFEXITED(status)) {
        outcome.kind = Outcome::Exited;
        outcome.code = WEXITSTATUS(status);
    } else if (status >= 0 && WIFSIGNALED(status)) {
        const int sig = WTERMSIG(status);
        outcome.kind = Outcome::Interrupted;
        outcome.code = sig;
        const char *name = signalName(sig);
        outcome.detail = "sygnał " + std::to_string(sig) + (name ? std::string(", ") + name : std::string());
    } else {
        outcome.kind = Outcome::Interrupted;
        outcome.detail = "nie wiadomo, jak zakończyło pracę";
    }
    return outcome;
}

// SIGCHLD and SIGWINCH reach the relay's loop through this pipe.
int signalPipe[2] = {-1, -1};
void noteSignal(int sig)
{
    const int saved = errno;
    const char c = static_cast<char>(sig);
    [[maybe_unused]] const ssize_t n = write(signalPipe[1], &c, 1);
    errno = saved;
}

// The helper's own terminal, raw while the tool runs: every key, Ctrl+C
// included, goes to the tool's terminal, whose own settings then apply.
class RawTerminal {
public:
    RawTerminal()
    {
        if (!isatty(STDIN_FILENO) || tcgetattr(STDIN_FILENO, &m_saved) != 0)
            return;
        termios raw = m_saved;
        cfmakeraw(&raw);
        m_raw = tcsetattr(STDIN_FILENO, TCSAFLUSH, &raw) == 0;
    }
    ~RawTerminal()
    {
        if (m_raw)
            tcsetattr(STDIN_FILENO, TCSAFLUSH, &m_saved);
    }
    const termios *saved() const { return isatty(STDIN_FILENO) ? &m_saved : nullptr; }

private:
    termios m_saved{};
    bool m_raw = false;
};

void copyWindowSize(int to)
{
    winsize size{};
    if (ioctl(STDIN_FILENO, TIOCGWINSZ, &size) == 0)
        ioctl(to, TIOCSWINSZ, &size);
}

// Forks the tool onto the terminal `slave`, as the leader of a session of
// its own, with the default answer to Ctrl+C and Ctrl+\. Returns its pid, or
// -1 with `error` set when it did not start.
pid_t startOn(int slave, const std::vector<std::string> &argv, const std::vector<std::string> &env,
              bool search, int &error)
{
    int report[2];
    if (pipe2(report, O_CLOEXEC) != 0) {
        error = errno;
        return -1;
    }
    // Everything the child needs is made before the fork.
    std::vector<char *> args = pointers(argv);
    std::vector<char *> envp = pointers(env);
    const pid_t pid = fork();
    if (pid == 0) {
        close(report[0]);
        setsid();
        ioctl(slave, TIOCSCTTY, 0);
        for (const int fd : {STDIN_FILENO, STDOUT_FILENO, STDERR_FILENO})
            dup2(slave, fd);
        if (slave > STDERR_FILENO)
            close(slave);
        signal(SIGINT, SIG_DFL);
        signal(SIGQUIT, SIG_DFL);
        signal(SIGPIPE, SIG_DFL);
        if (search)
            execvpe(args[0], args.data(), envp.data());
        else
            execve(args[0], args.data(), envp.data());
        const int why = errno;
        [[maybe_unused]] const ssize_t n = write(report[1], &why, sizeof why);
        _exit(127);
    }
    close(report[1]);
    error = pid < 0 ? errno : 0;
    if (pid > 0) {
        ssize_t got = 0;
        while ((got = read(report[0], &error, sizeof error)) < 0 && errno == EINTR) {
        }
        if (got == static_cast<ssize_t>(sizeof error)) {
            waitFor(pid);
            close(report[0]);
            return -1;
        }
        error = 0;
    }
    close(report[0]);
    return pid < 0 ? -1 : pid;
}

// Relays between the helper's terminal and the tool's until the tool ends,
// and returns its wait status. The end is the tool's own, from waitpid: a
// program the tool left behind (Wine's server, say) may keep its terminal
// open long after.
int relay(int master, pid_t pid, std::string *printed)
{
    const auto keep = [printed](const char *data, std::size_t n) {
        if (printed && printed->size() < printedLimit)
            printed->append(data, std::min(n, printedLimit - printed->size()));
    };
    bool inputOpen = true, outputOpen = true;
    char buffer[4096];
    for (;;) {
        pollfd fds[3] = {{signalPipe[0], POLLIN, 0},
                         {outputOpen ? master : -1, POLLIN, 0},
                         {inputOpen ? STDIN_FILENO : -1, POLLIN, 0}};
        if (poll(fds, 3, -1) < 0) {
            if (errno == EINTR)
                continue;
            break;
        }
        if (fds[0].revents & POLLIN) {
            char sig[16];
            const ssize_t n = read(signalPipe[0], sig, sizeof sig);
            if (std::find(sig, sig + std::max<ssize_t>(n, 0), char(SIGWINCH)) !=
                sig + std::max<ssize_t>(n, 0))
                copyWindowSize(master);
            int status = 0;
            if (waitpid(pid, &status, WNOHANG) == pid) {
                // What the tool wrote before it ended is still in its terminal.
                for (pollfd last{master, POLLIN, 0}; outputOpen && poll(&last, 1, 20) > 0;) {
                    const ssize_t got = read(master, buffer, sizeof buffer);
                    if (got <= 0)
                        break;
                    writeAll(STDOUT_FILENO, buffer, static_cast<std::size_t>(got));
                    keep(buffer, static_cast<std::size_t>(got));
                }
                return status;
            }
        }
        if (fds[1].revents & (POLLIN | POLLHUP | POLLERR)) {
            const ssize_t got = read(master, buffer, sizeof buffer);
            if (got > 0) {
                writeAll(STDOUT_FILENO, buffer, static_cast<std::size_t>(got));
                keep(buffer, static_cast<std::size_t>(got));
            } else if (got == 0 || errno != EINTR) {
                outputOpen = false; // every holder of the tool's terminal has closed it
            }
        }
        if (fds[2].revents & (POLLIN | POLLHUP | POLLERR)) {
            const ssize_t got = read(STDIN_FILENO, buffer, sizeof buffer);
            if (got > 0)
                writeAll(master, buffer, static_cast<std::size_t>(got));
            else if (got == 0 || errno != EINTR)
                inputOpen = false;
        }
    }
    return waitFor(pid);
}

} // namespace

template <> ReportLink::ReportLink(const std::string &name)
{
    if (name.empty())
        return;
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (name.size() >= sizeof address.sun_path)
        return;
    std::memcpy(address.sun_path, name.c_str(), name.size() + 1);
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return;
    if (connect(fd, reinterpret_cast<const sockaddr *>(&address), sizeof address) != 0) {
        close(fd);
        return;
    }
    m_handle = reinterpret_cast<void *>(static_cast<std::intptr_t>(fd));
}

ReportLink::~ReportLink()
{
    if (m_handle)
        close(static_cast<int>(reinterpret_cast<std::intptr_t>(m_handle)));
}

void ReportLink::send(const std::string &bytes)
{
    if (!m_handle)
        return;
    const int fd = static_cast<int>(reinterpret_cast<std::intptr_t>(m_handle));
    // A program that has gone, or stopped reading for seconds, is not told:
    // the student's window matters more.
    for (std::size_t done = 0; done < bytes.size();) {
        const ssize_t n = ::send(fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n > 0) {
            done += static_cast<std::size_t>(n);
            continue;
        }
        pollfd room{fd, POLLOUT, 0};
        if (n < 0 && (errno == EAGAIN || errno == EINTR) && poll(&room, 1, 5000) > 0)
            continue;
        close(fd);
        m_handle = nullptr;
        return;
    }
}

template <> Outcome runTool(const Request<char> &request, std::string *printed)
{
    Outcome outcome;
    std::vector<std::string> argv = request.command;
    std::vector<std::string> env;
    for (char **e = environ; *e; ++e)
        env.emplace_back(*e);
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
        // Wine hands an ANSI program its arguments in the code page of the
        // locale it runs in; the program chose one that has Polish letters.
        if (!request.locale.empty()) {
            std::erase_if(env, [](const std::string &e) { return e.rfind("LC_ALL=", 0) == 0; });
            env.push_back("LC_ALL=" + request.locale);
        }
    }
    // The student's Ctrl+C ends the tool, not the helper that tells of it;
    // a program that has gone does not end it either.
    std::signal(SIGINT, SIG_IGN);
    std::signal(SIGQUIT, SIG_IGN);
    std::signal(SIGPIPE, SIG_IGN);
    std::signal(SIGHUP, SIG_DFL);
    if (pipe2(signalPipe, O_CLOEXEC | O_NONBLOCK) != 0) {
        outcome.detail = std::strerror(errno);
        return outcome;
    }
    struct sigaction action {};
    action.sa_handler = noteSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART | SA_NOCLDSTOP;
    sigaction(SIGCHLD, &action, nullptr);
    sigaction(SIGWINCH, &action, nullptr);

    int master = -1, slave = -1;
    winsize size{24, 80, 0, 0};
    ioctl(STDIN_FILENO, TIOCGWINSZ, &size);
    RawTerminal terminal;
    if (openpty(&master, &slave, nullptr, terminal.saved(), &size) != 0) {
        outcome.detail = std::string("brak pseudoterminala: ") + std::strerror(errno);
        return outcome;
    }
    fcntl(master, F_SETFD, FD_CLOEXEC);
    int error = 0;
    const pid_t pid = startOn(slave, argv, env, request.throughWine, error);
    close(slave);
    if (pid < 0) {
        close(master);
        outcome.detail = whyNot(error, argv.front());
        return outcome;
    }
    const int status = relay(master, pid, printed);
    close(master);
    return outcomeOf(status);
}

void show(const std::string &utf8) { writeAll(STDOUT_FILENO, utf8.data(), utf8.size()); }

unsigned long long ownWindow()
{
    // xterm tells the programs it runs its window.
    const char *window = std::getenv("WINDOWID");
    return window ? std::strtoull(window, nullptr, 10) : 0;
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
