// kestoide-run, the helper that runs a lab tool in its own window: what it
// says at the end, when it waits for Enter, and its exit status.

#include <QProcess>
#include <QTest>

using namespace Qt::StringLiterals;

class TestRunner : public QObject {
    Q_OBJECT
private slots:
    void saysHowToolEndedAndWaitsWhenAsked_data();
    void saysHowToolEndedAndWaitsWhenAsked();
};

void TestRunner::saysHowToolEndedAndWaitsWhenAsked_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("output"); // all of it; the tool's own lines come first
    QTest::addColumn<int>("status");
    const QString enter = u" Naciśnij Enter, aby zamknąć okno.\n"_s;
    const QString sh = u"/bin/sh"_s;
    const auto row = [](const char *name) { return &QTest::newRow(name); };
    *row("compile, success: waits") << QStringList{u"--always"_s, u"--"_s, sh, u"-c"_s, u"echo asm"_s}
                                    << u"asm\n\nNarzędzie zakończyło pracę z kodem 0."_s + enter << 0;
    *row("run, success: closes at once")
        << QStringList{u"--on-failure"_s, u"--"_s, sh, u"-c"_s, u"echo run"_s} << u"run\n"_s << 0;
    *row("run, failure: waits, output kept")
        << QStringList{u"--on-failure"_s, u"--"_s, sh, u"-c"_s, u"echo out; echo err >&2; exit 3"_s}
        << u"out\nerr\n\nNarzędzie zakończyło pracę z kodem 3."_s + enter << 3;
    *row("arguments reach the tool as they are")
        << QStringList{u"--on-failure"_s,
                       u"--"_s,
                       sh,
                       u"-c"_s,
                       u"printf '[%s]' \"$@\"; exit 1"_s,
                       u"x"_s,
                       u"a b"_s,
                       u"$(id)"_s,
                       u"\"q\""_s}
        << u"[a b][$(id)][\"q\"]\nNarzędzie zakończyło pracę z kodem 1."_s + enter << 1;
    *row("killed by a signal") << QStringList{u"--on-failure"_s, u"--"_s, sh, u"-c"_s, u"kill -SEGV $$"_s}
                               << u"\nNarzędzie zostało przerwane (sygnał 11, SIGSEGV)."_s + enter
                               << 128 + 11;
    *row("no such tool")
        << QStringList{u"--on-failure"_s, u"--"_s, u"/nie/ma/narzędzia"_s}
        << u"\nNie można uruchomić narzędzia: brak pliku \"/nie/ma/narzędzia\" albo programu, "
           u"który ma go wykonać."_s +
               enter
        << 127;
}

void TestRunner::saysHowToolEndedAndWaitsWhenAsked()
{
#ifdef Q_OS_WIN
    QSKIP("The cases run POSIX shell commands.");
#endif
    QFETCH(QStringList, arguments);
    QProcess helper;
    helper.setProcessChannelMode(QProcess::MergedChannels);
    helper.start(QStringLiteral(KESTO_RUNNER), arguments);
    QVERIFY(helper.waitForStarted());
    // Enter is there already: a helper that waits reads it, one that does
    // not never looks.
    helper.write("\n");
    helper.closeWriteChannel();
    QVERIFY(helper.waitForFinished(10000));
    QTEST(QString::fromUtf8(helper.readAll()), "output");
    QCOMPARE(helper.exitStatus(), QProcess::NormalExit);
    QTEST(helper.exitCode(), "status");
}

QTEST_GUILESS_MAIN(TestRunner)
#include "tst_runner.moc"
