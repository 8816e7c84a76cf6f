// The tools' part of `make bench`: Run on a document that is not compiled, as
// a student presses it, through the real terminals (xterm) and the real
// helper, with a stand-in assembler that takes a second, as the lab's does.
// Run waits for the assembler; the figure is how long after the assembler's
// end the run tool starts. Beside it, in the same rounds, the whole of it
// from Ctrl+R to the run tool's start, and the assembler's own second.
//
//   toolrun KESTOIDE [--runs N]

#include "xdriver.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QString>
#include <QTemporaryDir>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

namespace {

// The stand-ins write down their moments from bash's own clock, which
// costs no process of its own (the wall clock: the bench converts).
const char *assembler = R"sh(#!/bin/bash
echo "$EPOCHREALTIME" >"${0%/*}/assembler-start"
sleep 1
case "${1##*/}" in *.*) hex="${1%.*}.hex" ;; *) hex="$1.hex" ;; esac
echo ":00000001FF" >"$hex"
echo "$EPOCHREALTIME" >"${0%/*}/assembler-end"
)sh";
const char *runTool = R"sh(#!/bin/bash
echo "$EPOCHREALTIME" >"${0%/*}/run-start.part"
mv "${0%/*}/run-start.part" "${0%/*}/run-start"
)sh";

// Seconds on the wall clock, the stand-ins' own.
double wallClock()
{
    timespec ts{};
    clock_gettime(CLOCK_REALTIME, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) / 1e9;
}

double readMoment(const std::string &path)
{
    std::ifstream in(path);
    double t = -1;
    in >> t;
    return t;
}

bool install(const std::string &path, const std::string &text)
{
    QFile f(QString::fromStdString(path));
    return f.open(QIODevice::WriteOnly) && f.write(text.data(), qint64(text.size())) == qint64(text.size()) &&
           f.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

double median(std::vector<double> v)
{
    v.erase(std::remove_if(v.begin(), v.end(), [](double d) { return d < 0; }), v.end());
    if (v.empty())
        return -1;
    std::sort(v.begin(), v.end());
    return v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
}

std::string row(const char *name, const std::vector<double> &v, const char *target, bool met)
{
    const auto [lo, hi] = std::minmax_element(v.begin(), v.end());
    char buf[256];
    std::snprintf(buf, sizeof buf, "| %s | %.0f ms (%.0f–%.0f) | %s | %s |\n", name, median(v) * 1000,
                  v.empty() ? -1 : *lo * 1000, v.empty() ? -1 : *hi * 1000, target,
                  *target ? (met ? "met" : "MISSED") : "");
    return buf;
}

} // namespace

int main(int argc, char *argv[])
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s KESTOIDE [--runs N]\n", argv[0]);
        return 2;
    }
    int runs = 5;
    for (int i = 2; i + 1 < argc; ++i)
        if (std::string(argv[i]) == "--runs")
            runs = std::max(1, std::atoi(argv[++i]));
    auto x = xdriver::Session::open();
    if (!x) {
        std::fprintf(stderr, "toolrun: no X server with XTEST (run under xvfb-run)\n");
        return 1;
    }
    QTemporaryDir dir(QDir::tempPath() + QStringLiteral("/toolrun-XXXXXX"));
    const std::string work = dir.path().toStdString(), app = work + "/app";
    const QString program = QDir(QString::fromLocal8Bit(argv[1])).absolutePath();
    QDir().mkpath(QString::fromStdString(app));
    QDir().mkpath(QString::fromStdString(work + "/run"));
    QFile::setPermissions(QString::fromStdString(work + "/run"),
                          QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    QFile::copy(program, QString::fromStdString(app + "/kestoide"));
    QFile::copy(QFileInfo(program).path() + QStringLiteral("/kestoide-run"),
                QString::fromStdString(app + "/kestoide-run"));
    if (!install(app + "/ruderari.exe", assembler) || !install(app + "/zozevadi.exe", runTool) ||
        !install(work + "/kestoide.ini", "1\r\n") || !install(work + "/prog.asm", "START:  NOP\r\n")) {
        std::fprintf(stderr, "toolrun: cannot make %s\n", work.c_str());
        return 1;
    }

    std::vector<double> afterAssembler, whole, assembling;
    for (int run = 0; run < runs; ++run) {
        for (const char *name : {"/assembler-start", "/assembler-end", "/run-start"})
            std::remove((app + name).c_str());
        const pid_t pid = fork();
        if (pid == 0) {
            if (chdir(work.c_str()) != 0)
                _exit(127);
            setenv("XDG_RUNTIME_DIR", (work + "/run").c_str(), 1); // made 0700 below
            setenv("XDG_STATE_HOME", (work + "/state").c_str(), 1);
            execl((app + "/kestoide").c_str(), "kestoide", (work + "/prog.asm").c_str(), nullptr);
            _exit(127);
        }
        const auto isMain = [](const std::string &t) { return t.rfind("KESTO IDE [", 0) == 0; };
        const unsigned long window = x->waitWindow(pid, isMain, 30);
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        x->focus(window);
        // The key's moment, on the stand-ins' clock.
        const double pressed = x->key("ctrl+r") - xdriver::now() + wallClock();
        // The question "not compiled": OK compiles, then Run waits for it.
        const unsigned long box = x->waitWindow(
            pid, [](const std::string &t) { return t == "KESTO IDE"; }, 30);
        if (box) {
            x->focus(box);
            x->key("Return");
        }
        for (const double deadline = xdriver::now() + 30;
             readMoment(app + "/run-start") < 0 && xdriver::now() < deadline;)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        const double began = readMoment(app + "/assembler-start"), ended = readMoment(app + "/assembler-end"),
                     sent = readMoment(app + "/run-start");
        if (began > 0 && ended > 0 && sent > 0) {
            afterAssembler.push_back(sent - ended);
            whole.push_back(sent - pressed);
            assembling.push_back(ended - began);
        }
        std::fprintf(stderr, "toolrun: round %d of %d: %.0f ms after the assembler\n", run + 1, runs,
                     (sent - ended) * 1000);
        kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
        // The compile's terminal waits for an Enter no one presses.
        const std::string stray = "pkill -f '" + app + "/' >/dev/null 2>&1";
        [[maybe_unused]] const int ignored = std::system(stray.c_str());
    }
    std::printf("\n| figure (Run on a document not compiled, 1 s assembler) | median | target | |\n"
                "|---|---:|---|---|\n");
    std::printf("%s", row("the assembler's end → the run tool's start", afterAssembler, "≤ 300 ms",
                          median(afterAssembler) >= 0 && median(afterAssembler) <= 0.3)
                          .c_str());
    std::printf("%s", row("Ctrl+R → the run tool's start, the whole of it", whole, "", true).c_str());
    std::printf("%s", row("the assembler's own run, for reference", assembling, "", true).c_str());
    std::printf("\nmedians of %d fresh processes (lowest–highest in brackets), through xterm and "
                "kestoide-run.\n",
                runs);
    return 0;
}
