// The real-window part of `make bench`: KESTO IDE and SciTE (Debian `scite`)
// as whole programs in one X server (Xvfb), on the same generated files in
// the same run, driven by X key events and timed by what a user sees, the
// window's caption. Every figure is a median over fresh processes, ours and
// SciTE's taking turns, with SciTE's beside it and the ratio.
//
//   realwindow KESTOIDE [--runs N] [--only start|open|memory|line|none]
//              [--open-with-dialog] [--screen-reader] [--keep]
//
// Opening is timed the same way for both: from the launch with the file to
// the caption showing it, less the same with a 1 KB file (--open-with-dialog
// times ours from Enter in the Open dialog instead). SciTE runs like for
// like: code page 65001 on the same characters in UTF-8, its other settings
// as Debian ships them. --screen-reader lets both serve the session's
// accessibility bus (run under dbus-run-session); --keep leaves the
// generated files for profiling by hand.

#include "codepage.h"
#include "generate.h"
#include "xdriver.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QString>
#include <QTemporaryDir>

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

using xdriver::now;

constexpr double heavyTimeout = 180; // seconds; a 10 MB line is slow to lay out

std::string workDir;
std::string logFile;
bool screenReader = false; // both programs serve the accessibility bus of the session

// --- processes ---------------------------------------------------------------

struct Process {
    pid_t pid = -1;
    unsigned long window = 0;
};

// Starts a program with a clean environment of its own; `at` is the moment
// just before exec.
pid_t launch(const std::vector<std::string> &argv, const std::string &cwd, double *at)
{
    const std::string home = workDir + "/home";
    const std::string runtime = workDir + "/run";
    *at = now();
    const pid_t pid = fork();
    if (pid != 0)
        return pid;
    if (chdir(cwd.c_str()) != 0)
        _exit(127);
    setenv("HOME", home.c_str(), 1);
    setenv("XDG_RUNTIME_DIR", runtime.c_str(), 1);
    setenv("GDK_BACKEND", "x11", 1);
    if (screenReader) {
        setenv("QT_LINUX_ACCESSIBILITY_ALWAYS_ON", "1", 1);
    } else {
        // Neither program talks to a screen reader: GTK's bridge would
        // otherwise look for the accessibility bus at start.
        setenv("NO_AT_BRIDGE", "1", 1);
        unsetenv("DBUS_SESSION_BUS_ADDRESS");
    }
    for (const char *name : {"QT_QPA_PLATFORM", "SESSION_MANAGER", "XDG_CONFIG_HOME", "XDG_DATA_HOME",
                             "XDG_STATE_HOME", "XDG_CACHE_HOME"})
        unsetenv(name);
    const int log = ::open(logFile.c_str(), O_WRONLY | O_APPEND | O_CREAT, 0644);
    if (log >= 0) {
        dup2(log, 1);
        dup2(log, 2);
    }
    std::vector<char *> args;
    for (const std::string &a : argv)
        args.push_back(const_cast<char *>(a.c_str()));
    args.push_back(nullptr);
    execv(args[0], args.data());
    _exit(127);
}

void finish(Process &p)
{
    if (p.pid > 0) {
        kill(p.pid, SIGKILL);
        waitpid(p.pid, nullptr, 0);
    }
    p = {};
}

long cpuTicks(pid_t pid)
{
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    std::getline(stat, line);
    // Fields after the command name, which may hold blanks, closed by ')'.
    const std::size_t close = line.rfind(')');
    if (close == std::string::npos || close + 2 > line.size())
        return -1; // the process is gone
    std::istringstream rest(line.substr(close + 2));
    std::string field;
    long utime = 0, stime = 0;
    for (int i = 3; i <= 15 && rest >> field; ++i) {
        if (i == 14)
            utime = std::stol(field);
        if (i == 15)
            stime = std::stol(field);
    }
    return utime + stime;
}

// Waits until the process has used (almost) no processor for a while: work
// left over from the last step (painting, a deferred layout) must not fall
// into the next figure.
void waitIdle(pid_t pid, double timeout = heavyTimeout)
{
    const double deadline = now() + timeout;
    long last = cpuTicks(pid);
    int quiet = 0;
    while (quiet < 6 && last >= 0 && now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        const long ticks = cpuTicks(pid);
        quiet = ticks - last <= 1 ? quiet + 1 : 0;
        last = ticks;
    }
}

double peakMiB(pid_t pid)
{
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string key;
    while (status >> key) {
        if (key == "VmHWM:") {
            double kib = 0;
            status >> kib;
            return kib / 1024.0;
        }
    }
    return -1;
}

// --- the two programs ----------------------------------------------------------

struct Files {
    std::string ours, scite; // the same text: code page 852 for us, UTF-8 for SciTE
};

struct Editor {
    virtual ~Editor() = default;
    // Starts the program with nothing open; the moment the window shows.
    virtual double start(Process &p) = 0;
    // Opens the file in a fresh process; when `timed`, returns the seconds
    // that took (-1 on failure).
    virtual double open(Process &p, const Files &f, bool timed = true) = 0;
    virtual bool changedMark(const std::string &title) const = 0;
};

bool startsWith(const std::string &s, const std::string &prefix) { return s.rfind(prefix, 0) == 0; }
bool endsWith(const std::string &s, const std::string &suffix)
{
    return s.size() >= suffix.size() && s.compare(s.size() - suffix.size(), suffix.size(), suffix) == 0;
}
std::string baseName(const std::string &path) { return path.substr(path.rfind('/') + 1); }

class Kesto : public Editor {
public:
    Kesto(xdriver::Session &x, std::string program, bool byArgument)
        : m_x(x), m_program(std::move(program)), m_byArgument(byArgument)
    {}
    double start(Process &p) override
    {
        double t0 = 0, at = 0;
        p.pid = launch({m_program}, workDir + "/ours", &t0);
        p.window = m_x.waitWindow(
            p.pid, [](const std::string &t) { return startsWith(t, "KESTO IDE ["); }, 30, &at);
        return p.window ? at - t0 : -1;
    }
    double open(Process &p, const Files &f, bool timed) override
    {
        const std::string caption = "KESTO IDE [" + f.ours + "]";
        const auto opened = [&](const std::string &t) { return t == caption; };
        if (m_byArgument) {
            // From launch with the file to its caption, less the same with 1 KB.
            const auto launchWith = [&](const std::string &file, const std::string &expect) {
                double t0 = 0, at = 0;
                p.pid = launch({m_program, file}, workDir + "/ours", &t0);
                p.window = m_x.waitWindow(
                    p.pid, [&](const std::string &t) { return t == "KESTO IDE [" + expect + "]"; },
                    heavyTimeout, &at);
                return p.window ? at - t0 : -1;
            };
            const std::string small = workDir + "/ours/1KB.asm";
            const double base = timed ? launchWith(small, small) : 0;
            finish(p);
            const double whole = launchWith(f.ours, f.ours);
            if (p.window)
                m_x.focus(p.window);
            return base < 0 || whole < 0 ? -1 : whole - base;
        }
        // From Enter in the Open dialog to the caption.
        if (start(p) < 0)
            return -1;
        waitIdle(p.pid);
        m_x.focus(p.window);
        m_x.key("ctrl+o");
        const unsigned long dialog = m_x.waitWindow(
            p.pid, [](const std::string &t) { return t == "Otwórz"; }, 30);
        if (!dialog)
            return -1;
        m_x.focus(dialog);
        m_x.key("ctrl+a");
        m_x.type(f.ours);
        waitIdle(p.pid);
        const double t0 = m_x.key("Return");
        const double at = m_x.waitTitle(p.window, opened, heavyTimeout);
        m_x.focus(p.window);
        return at < 0 ? -1 : at - t0;
    }
    bool changedMark(const std::string &title) const override { return endsWith(title, "] *"); }

private:
    xdriver::Session &m_x;
    std::string m_program;
    bool m_byArgument;
};

class Scite : public Editor {
public:
    explicit Scite(xdriver::Session &x) : m_x(x) {}
    double start(Process &p) override { return launchWith(p, {}, "(Untitled) - SciTE"); }
    double open(Process &p, const Files &f, bool timed) override
    {
        const double base = timed ? launchWith(p, workDir + "/scite/1KB.asm", "1KB.asm - SciTE") : 0;
        finish(p);
        const double whole = launchWith(p, f.scite, baseName(f.scite) + " - SciTE");
        return base < 0 || whole < 0 ? -1 : whole - base;
    }
    bool changedMark(const std::string &title) const override
    {
        return title.find(" * SciTE") != std::string::npos;
    }

private:
    double launchWith(Process &p, const std::string &file, const std::string &caption)
    {
        std::vector<std::string> argv = {"/usr/bin/scite",  "-code.page=65001", "-check.if.already.open=0",
                                         "-save.session=0", "-save.recent=0",   "-save.position=0"};
        if (!file.empty())
            argv.push_back(file);
        double t0 = 0, at = 0;
        p.pid = launch(argv, workDir + "/scite", &t0);
        p.window = m_x.waitWindow(
            p.pid, [&](const std::string &t) { return t == caption; }, heavyTimeout, &at);
        if (p.window)
            m_x.focus(p.window);
        return p.window ? at - t0 : -1;
    }
    xdriver::Session &m_x;
};

// A key typed into an opened, settled window, until the caption shows the
// changed mark; seconds, -1 on failure.
double keyToMark(xdriver::Session &x, Editor &e, Process &p, const std::string &before)
{
    if (!before.empty()) {
        x.key(before);
        waitIdle(p.pid);
    }
    const double t0 = x.key("a");
    const double at = x.waitTitle(
        p.window, [&](const std::string &t) { return e.changedMark(t); }, heavyTimeout);
    return at < 0 ? -1 : at - t0;
}

// --- figures -------------------------------------------------------------------

struct Samples {
    std::vector<double> ours, scite;
};

double median(std::vector<double> v)
{
    v.erase(std::remove_if(v.begin(), v.end(), [](double d) { return d < 0; }), v.end());
    if (v.empty())
        return -1;
    std::sort(v.begin(), v.end());
    const std::size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

std::string spread(const std::vector<double> &v, double scale, int decimals)
{
    const auto [lo, hi] = std::minmax_element(v.begin(), v.end());
    if (v.empty() || *lo < 0)
        return "";
    char buf[64];
    std::snprintf(buf, sizeof buf, " (%.*f–%.*f)", decimals, *lo * scale, decimals, *hi * scale);
    return buf;
}

std::string amount(double v, double scale, int decimals, const char *unit)
{
    if (v < 0)
        return "n/a";
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.*f %s", decimals, v * scale, unit);
    return buf;
}

struct Figure {
    std::string name;
    Samples s;
    bool memory = false;
    double maxRatio = 1.0;
    double maxAbsolute = 0; // an absolute bound (seconds, or MiB) instead of the ratio, when set
    std::string target;
};

void print(const std::vector<Figure> &figures)
{
    std::printf("\n| figure | KESTO IDE | SciTE | ratio | target | |\n|---|---:|---:|---:|---|---|\n");
    for (const Figure &f : figures) {
        const double ours = median(f.s.ours), scite = median(f.s.scite);
        const double ratio = ours >= 0 && scite > 0 ? ours / scite : -1;
        const bool ok =
            f.maxAbsolute > 0 ? ours >= 0 && ours <= f.maxAbsolute : ratio >= 0 && ratio <= f.maxRatio;
        const double scale = f.memory ? 1 : 1000;
        const int decimals = f.memory ? 0 : (std::max(ours, scite) < 0.02 ? 1 : 0);
        const char *unit = f.memory ? "MiB" : "ms";
        std::printf("| %s | %s%s | %s%s | %s | %s | %s |\n", f.name.c_str(),
                    amount(ours, scale, decimals, unit).c_str(), spread(f.s.ours, scale, decimals).c_str(),
                    amount(scite, scale, decimals, unit).c_str(), spread(f.s.scite, scale, decimals).c_str(),
                    ratio < 0 ? "n/a" : QString::number(ratio, 'f', 2).toUtf8().constData(), f.target.c_str(),
                    ok ? "met" : "MISSED");
    }
    std::printf("\nmedians of fresh processes (lowest–highest in brackets); ours and SciTE take turns.\n");
    std::fflush(stdout);
}

bool writeFile(const std::string &path, const QByteArray &bytes)
{
    QFile f(QString::fromStdString(path));
    return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
}

// The same text for both programs: as a DOS editor wrote it for us, in UTF-8 for SciTE.
Files makeFile(const std::string &name, const QByteArray &cp852)
{
    Files f{workDir + "/ours/" + name, workDir + "/scite/" + name};
    std::string utf8;
    kesto::codepage::appendSourceAsUtf8(reinterpret_cast<const unsigned char *>(cp852.constData()),
                                        static_cast<std::size_t>(cp852.size()), utf8);
    if (!writeFile(f.ours, cp852) ||
        !writeFile(f.scite, QByteArray(utf8.data(), static_cast<qsizetype>(utf8.size())))) {
        std::fprintf(stderr, "cannot write %s\n", f.ours.c_str());
        std::exit(1);
    }
    return f;
}

} // namespace

int main(int argc, char *argv[])
{
    if (argc < 2) {
        std::fprintf(
            stderr,
            "usage: %s KESTOIDE [--runs N] [--only start|open|memory|line|none] [--open-with-dialog] "
            "[--keep] [--screen-reader]\n",
            argv[0]);
        return 2;
    }
    const std::string program = QDir(QString::fromLocal8Bit(argv[1])).absolutePath().toStdString();
    int runs = 3;
    std::string only;
    bool byArgument = true; // the program opens a file named on its command line
    bool keep = false;      // leaves the generated files behind, for profiling by hand
    for (int i = 2; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--runs" && i + 1 < argc)
            runs = std::max(1, std::atoi(argv[++i]));
        else if (a == "--only" && i + 1 < argc)
            only = argv[++i];
        else if (a == "--open-with-dialog")
            byArgument = false;
        else if (a == "--keep")
            keep = true;
        else if (a == "--screen-reader")
            screenReader = true;
    }
    auto x = xdriver::Session::open();
    if (!x) {
        std::fprintf(stderr, "realwindow: no X server with XTEST (run under xvfb-run)\n");
        return 1;
    }
    if (access("/usr/bin/scite", X_OK) != 0) {
        std::fprintf(stderr, "realwindow: /usr/bin/scite is missing (Debian package scite)\n");
        return 1;
    }

    QTemporaryDir dir(QDir::tempPath() + QStringLiteral("/realwindow-XXXXXX"));
    dir.setAutoRemove(!keep);
    workDir = dir.path().toStdString();
    logFile = workDir + "/programs.log";
    for (const char *sub : {"ours", "scite", "home", "run"})
        mkdir((workDir + "/" + sub).c_str(), 0700);
    writeFile(workDir + "/ours/kestoide.ini", "1\r\n");
    std::fprintf(stderr, "realwindow: files in %s\n", workDir.c_str());
    makeFile("1KB.asm", benchfiles::source(1 << 10));
    const Files big = makeFile("50MB.asm", benchfiles::source(50 << 20));
    const Files heavy = makeFile("50MB-polish.asm", benchfiles::polishHeavy(50 << 20));
    const Files line1 = makeFile("1MB-1line.asm", benchfiles::singleLine(1 << 20));
    const Files line10 = makeFile("10MB-1line.asm", benchfiles::singleLine(10 << 20));

    Kesto ours(*x, program, byArgument);
    Scite scite(*x);
    Editor *const editors[] = {&ours, &scite};
    const auto sampleOf = [](Samples &s, int i) -> std::vector<double> & {
        return i == 0 ? s.ours : s.scite;
    };

    Figure start{"start to an empty window", {}, false, 1.0, 0, "< 1.0×"};
    Figure open{
        std::string(byArgument
                        ? "open 50 MB: launch with it → caption, less 1 KB"
                        : "open 50 MB (ours: Enter in Open → caption; SciTE: launch with it, less 1 KB)"),
        {},
        false,
        1.0,
        0,
        "≤ 1.0×"};
    Figure memory{"peak memory, 50 MB open (VmHWM)", {}, true, 1.0, 0, "≤ 1.0×"};
    // Its text is a third longer in UTF-8 than the file: the editor's buffer
    // is made that size rather than grown to it.
    Figure memoryHeavy{"peak memory, 50 MB a third Polish letters open", {}, true, 0, 130, "≤ 130 MiB"};
    Figure key50{"a key at the end of 50 MB → \" *\"", {}, false, 1.0, 0, "< 1.0×"};
    Figure key1{"a key in a 1 MB single line → \" *\"", {}, false, 1.0, 0, "≤ 1.0×"};
    Figure key10{"a key in a 10 MB single line → \" *\"", {}, false, 0, 1.0, "≤ 1 s"};

    const auto want = [&](const char *figure) { return only.empty() || only == figure; };
    for (int run = 0; run < runs; ++run) {
        std::fprintf(stderr, "realwindow: round %d of %d\n", run + 1, runs);
        for (int i = 0; i < 2; ++i) {
            Editor &e = *editors[i];
            Process p;
            if (want("start")) {
                sampleOf(start.s, i).push_back(e.start(p));
                finish(p);
            }
            if (want("open")) {
                sampleOf(open.s, i).push_back(e.open(p, big));
                if (p.window) {
                    waitIdle(p.pid);
                    sampleOf(memory.s, i).push_back(peakMiB(p.pid));
                    sampleOf(key50.s, i).push_back(keyToMark(*x, e, p, "ctrl+End"));
                }
                finish(p);
            }
            if (want("open") || want("memory")) {
                e.open(p, heavy, false);
                if (p.window) {
                    waitIdle(p.pid);
                    sampleOf(memoryHeavy.s, i).push_back(peakMiB(p.pid));
                }
                finish(p);
            }
            if (want("line")) {
                for (auto [file, fig] : {std::pair{&line1, &key1}, std::pair{&line10, &key10}}) {
                    e.open(p, *file, false);
                    if (p.window) {
                        waitIdle(p.pid);
                        sampleOf(fig->s, i).push_back(keyToMark(*x, e, p, ""));
                    }
                    finish(p);
                }
            }
        }
    }
    std::vector<Figure> figures;
    for (Figure *f : {&start, &open, &memory, &memoryHeavy, &key50, &key1, &key10})
        if (!f->s.ours.empty() || !f->s.scite.empty())
            figures.push_back(*f);
    print(figures);
    return 0;
}
