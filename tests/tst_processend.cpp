// Ends the close logic never sees keep the unsaved text: the program, in a
// real process, is told to end (SIGTERM, SIGHUP) or Qt calls exit() as it
// does when the display goes away; the next start offers the text back.
//
// The child is this program started again with `--end HOW UNSAVED`: a real
// window under the same watch as the program's, holding `special` unsaved
// when UNSAVED is 1, which prints "ready" and waits for its end.

#include "disk/recoverycopy.h"
#include "processend.h"
#include "testsupport.h"

#include <QProcess>
#include <QTimer>

#include <csignal>
#include <cstdio>
#include <cstdlib>

using namespace kesto;

namespace {

// NUL, a lone CR and LF, Polish letters, what Windows-1250 lacks.
const char specialBytes[] = "zażółć\0gęślą\rjaźń\nŻÓŁW\r\n€→😀 END";
const QString special = QString::fromUtf8(specialBytes, sizeof specialBytes - 1);

int endChild(const QString &how, bool unsaved)
{
    ScriptedPlatform platform;
    EditorWin win(platform);
    const EndWatch watch([&win] { win.keepUnsavedTextAtEnd(); });
    // Only the end may write the copy.
    win.recoveryTimer.setInterval(3'600'000);
    if (unsaved)
        win.txtEdit->setSelText(special);
    if (how == u"exit")
        QTimer::singleShot(0, [] { std::exit(1); });
    std::puts("ready");
    std::fflush(stdout);
    return QApplication::exec();
}

} // namespace

class TestProcessEnd : public QObject {
    Q_OBJECT
private slots:
    void endPastTheCloseLogicKeepsUnsavedText_data();
    void endPastTheCloseLogicKeepsUnsavedText();
};

void TestProcessEnd::endPastTheCloseLogicKeepsUnsavedText_data()
{
    QTest::addColumn<QString>("how");
    QTest::addColumn<int>("signal"); // 0: ends through exit()
    QTest::addColumn<QString>("text");
    QTest::newRow("SIGTERM") << QStringLiteral("signal") << int(SIGTERM) << special;
    QTest::newRow("SIGHUP") << QStringLiteral("signal") << int(SIGHUP) << special;
    QTest::newRow("exit(1), as when the display goes") << QStringLiteral("exit") << 0 << special;
    QTest::newRow("SIGTERM, nothing unsaved") << QStringLiteral("signal") << int(SIGTERM) << QString();
}

void TestProcessEnd::endPastTheCloseLogicKeepsUnsavedText()
{
    QFETCH(QString, how);
    QFETCH(int, signal);
    QFETCH(QString, text);
    WindowFixture f;
    QProcess child;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("XDG_STATE_HOME"), f.stateHome.path());
    child.setProcessEnvironment(env);
    child.start(QCoreApplication::applicationFilePath(),
                {QStringLiteral("--end"), how, text.isEmpty() ? QStringLiteral("0") : QStringLiteral("1")});
    QVERIFY(child.waitForReadyRead(60'000));
    QCOMPARE(child.readLine(), QByteArray("ready\n"));
    if (signal != 0)
        QCOMPARE(::kill(static_cast<pid_t>(child.processId()), signal), 0);
    QVERIFY(child.waitForFinished(60'000));
    // Ended as the signal, or the exit, ends a process.
    QCOMPARE(child.exitStatus(), signal != 0 ? QProcess::CrashExit : QProcess::NormalExit);
    if (signal == 0)
        QCOMPARE(child.exitCode(), 1);

    if (!text.isEmpty())
        f.platform.answer(Button::Yes);
    EditorWin &w = f.open();
    w.startSession(QString());
    QCOMPARE(f.platform.unexpectedBoxes, 0);
    QCOMPARE(f.platform.boxes.size(), text.isEmpty() ? 0 : 1);
    QCOMPARE(w.txtEdit->text(), text);
    QCOMPARE(w.doc.docChanged, !text.isEmpty());
}

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    const QStringList args = QCoreApplication::arguments();
    if (args.size() == 4 && args[1] == u"--end")
        return endChild(args[2], args[3] == u"1");
    TestProcessEnd test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "tst_processend.moc"
