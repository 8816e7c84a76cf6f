#pragma once
// Runs this test program again as user nobody: the tests run as root, and
// root ignores permission bits.

#include <QtGlobal>

#ifndef Q_OS_UNIX
// Windows has no root that permission bits would not stop, and no nobody.
#define RUN_UNPRIVILEGED()                                                                                   \
    do {                                                                                                     \
    } while (0)
#else

#include <QCoreApplication>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <unistd.h>

struct NobodyRun {
    QString skipReason; // set when it could not run as nobody at all
    bool finished = false;
    int exitCode = -1;
    bool passed = false; // the one test it ran passed: neither failed nor skipped
    QString output;      // stdout and stderr
};

// Runs a copy of this program as nobody, with `arguments`, in `workingDir`
// (by default the copy's folder, which nobody may not write). The copy lies
// in a folder nobody may enter: the build tree may be out of its reach.
// `environment` adds to the inherited one.
inline NobodyRun runCopyAsNobody(const QStringList &arguments, const QString &workingDir = {},
                                 const QProcessEnvironment &environment = {})
{
    NobodyRun r;
    const QString setpriv = QStandardPaths::findExecutable(QStringLiteral("setpriv"));
    if (setpriv.isEmpty()) {
        r.skipReason = QStringLiteral("runs as root, and without setpriv it cannot drop to an "
                                      "unprivileged user; root ignores permission bits");
        return r;
    }
    QTemporaryDir bin;
    const QString copy = bin.filePath(QCoreApplication::applicationName());
    const auto rx = QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner |
                    QFileDevice::ReadGroup | QFileDevice::ExeGroup | QFileDevice::ReadOther |
                    QFileDevice::ExeOther;
    if (!QFile::setPermissions(bin.path(), rx) ||
        !QFile::copy(QCoreApplication::applicationFilePath(), copy) || !QFile::setPermissions(copy, rx)) {
        r.skipReason = QStringLiteral("cannot copy the test program for user nobody");
        return r;
    }
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove(QStringLiteral("XDG_RUNTIME_DIR"));
    env.insert(QStringLiteral("HOME"), QStringLiteral("/tmp"));
    env.insert(QStringLiteral("TMPDIR"), QStringLiteral("/tmp"));
    env.insert(environment);
    p.setProcessEnvironment(env);
    p.setWorkingDirectory(workingDir.isEmpty() ? bin.path() : workingDir);
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(setpriv, QStringList{QStringLiteral("--reuid=65534"), QStringLiteral("--regid=65534"),
                                 QStringLiteral("--clear-groups"), QStringLiteral("--"), copy} +
                         arguments);
    if (!p.waitForFinished(120'000)) {
        p.kill();
        p.waitForFinished();
        r.output = QStringLiteral("the unprivileged run did not finish");
        return r;
    }
    r.output = QString::fromLocal8Bit(p.readAll());
    if (p.exitStatus() == QProcess::NormalExit && (p.exitCode() == 126 || p.exitCode() == 127)) {
        r.skipReason = QStringLiteral("user nobody cannot run the test program here: ") + r.output;
        return r;
    }
    r.finished = p.exitStatus() == QProcess::NormalExit;
    r.exitCode = p.exitCode();
    return r;
}

// Runs the current test function (and data row) of `testClass` again in a
// copy of this program as nobody.
inline NobodyRun runCurrentTestAsNobody(const char *testClass)
{
    const QString function = QString::fromLatin1(QTest::currentTestFunction());
    QString test = function;
    if (QTest::currentDataTag())
        test += u':' + QString::fromLatin1(QTest::currentDataTag());
    NobodyRun run = runCopyAsNobody({test});
    run.passed = run.finished && run.exitCode == 0 &&
                 run.output.contains(QStringLiteral("PASS   : ") + QString::fromLatin1(testClass) +
                                     QStringLiteral("::") + function + u'(');
    return run;
}

// Root ignores permission bits: as root, the test function runs again as
// nobody, and that run's verdict is this one's. A macro, as it skips or ends
// the test function that uses it.
#define RUN_UNPRIVILEGED()                                                                                   \
    do {                                                                                                     \
        if (::geteuid() == 0) {                                                                              \
            const NobodyRun nobody = runCurrentTestAsNobody(metaObject()->className());                      \
            if (!nobody.skipReason.isEmpty())                                                                \
                QSKIP(qPrintable(nobody.skipReason));                                                        \
            QVERIFY2(nobody.passed, qPrintable(nobody.output));                                              \
            return;                                                                                          \
        }                                                                                                    \
    } while (0)
#endif
