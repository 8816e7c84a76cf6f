// Faults around saving, the settings file and Open, on the real window: a full
// file system, permissions (checked as an unprivileged user), links, files
// changed behind the program's back, paths no file system takes. Whatever
// fails, the old file stays byte for byte and the text stays in the editor,
// marked changed.

#include "testsupport.h"

#include <QAction>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QStandardPaths>

#include <cerrno>

#include <fcntl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/sysmacros.h>
#include <unistd.h>

using namespace kesto;

namespace {

const QString cannotSave =
    QStringLiteral("Nie można zapisać pliku. Sprawdź czy podana ścieżka jest właściwa.");
const QString settingsError = QStringLiteral("Błąd podczas zapisywania ustawień");
const QByteArray oldBytes("old text\r\n\xB9\r\n"); // ą in Windows-1250
const QString edited = QStringLiteral("edited\r\nżółć");

QByteArray native(const QString &path) { return QFile::encodeName(path); }

QStringList listing(const QString &dir)
{
    return QDir(dir).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System);
}

// A fresh folder; with `small`, a 64 KiB tmpfs mounted over it (root only),
// which fill() fills to the last block.
class SmallFileSystem {
public:
    SmallFileSystem(const QString &where, bool small) : m_path(where)
    {
        m_mounted = QDir().mkpath(where) && small &&
                    ::mount("tmpfs", native(where).constData(), "tmpfs", MS_NOSUID, "size=64k") == 0;
    }
    ~SmallFileSystem()
    {
        if (m_mounted)
            ::umount2(native(m_path).constData(), MNT_DETACH);
    }
    SmallFileSystem(const SmallFileSystem &) = delete;
    SmallFileSystem &operator=(const SmallFileSystem &) = delete;
    bool mounted() const { return m_mounted; }
    bool fill() const
    {
        const int fd = ::open(native(m_path + QStringLiteral("/filler")).constData(),
                              O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
        if (fd < 0)
            return false;
        const QByteArray block(4096, 'x');
        while (::write(fd, block.constData(), static_cast<size_t>(block.size())) > 0) {
        }
        ::close(fd);
        struct statvfs vfs {};
        return ::statvfs(native(m_path).constData(), &vfs) == 0 && vfs.f_bavail == 0;
    }

private:
    QString m_path;
    bool m_mounted = false;
};

// Gives a folder back its write bit, so QTemporaryDir can remove it.
struct RestoreWritable {
    QString path;
    ~RestoreWritable() { ::chmod(native(path).constData(), 0700); }
};

struct Unprivileged {
    bool passed = false;
    QString skipReason;
    QString output;
};

// Runs the current test row again as user nobody, in a copy of this program
// that nobody may execute (the build tree may be out of its reach).
Unprivileged runAsNobody()
{
    Unprivileged r;
    const QString setpriv = QStandardPaths::findExecutable(QStringLiteral("setpriv"));
    if (setpriv.isEmpty()) {
        r.skipReason = QStringLiteral("runs as root, and without setpriv it cannot drop to an "
                                      "unprivileged user; root ignores permission bits");
        return r;
    }
    QTemporaryDir bin;
    const QString copy = bin.filePath(QStringLiteral("tst_faultinjection"));
    const auto rx = QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner |
                    QFileDevice::ReadGroup | QFileDevice::ExeGroup | QFileDevice::ReadOther |
                    QFileDevice::ExeOther;
    if (!QFile::setPermissions(bin.path(), rx) ||
        !QFile::copy(QCoreApplication::applicationFilePath(), copy) || !QFile::setPermissions(copy, rx)) {
        r.skipReason = QStringLiteral("cannot copy the test program for user nobody");
        return r;
    }
    QString test = QString::fromLatin1(QTest::currentTestFunction());
    if (QTest::currentDataTag())
        test += u':' + QString::fromLatin1(QTest::currentDataTag());

    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove(QStringLiteral("XDG_RUNTIME_DIR"));
    env.insert(QStringLiteral("HOME"), QStringLiteral("/tmp"));
    env.insert(QStringLiteral("TMPDIR"), QStringLiteral("/tmp"));
    p.setProcessEnvironment(env);
    p.setWorkingDirectory(bin.path());
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(setpriv, {QStringLiteral("--reuid=65534"), QStringLiteral("--regid=65534"),
                      QStringLiteral("--clear-groups"), QStringLiteral("--"), copy, test});
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
    r.passed = p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0 &&
               r.output.contains(QStringLiteral("PASS   : TestFaultInjection::") + test.section(u':', 0, 0));
    return r;
}

// Root ignores permission bits: as root, the row runs again as nobody and
// that run's verdict is this row's.
#define RUN_UNPRIVILEGED()                                                                                   \
    do {                                                                                                     \
        if (::geteuid() == 0) {                                                                              \
            const Unprivileged run = runAsNobody();                                                          \
            if (!run.skipReason.isEmpty())                                                                   \
                QSKIP(qPrintable(run.skipReason));                                                           \
            QVERIFY2(run.passed, qPrintable(run.output));                                                    \
            return;                                                                                          \
        }                                                                                                    \
    } while (0)

bool openInWindow(WindowFixture &f, const QString &path)
{
    f.platform.chooseFile(path);
    f.win->mnuOtworz();
    return f.win->dlgPlik.FileName == path && !f.win->doc.docChanged && f.platform.boxes.isEmpty();
}

void expectTextKeptAndMarked(const EditorWin &w, const QString &text, const QString &path)
{
    QCOMPARE(w.txtEdit->text(), text);
    QCOMPARE(w.dlgPlik.FileName, path);
    QVERIFY(w.doc.docChanged);
    QCOMPARE(w.windowTitle(), QStringLiteral("KESTO IDE [") + path + QStringLiteral("] *"));
}

} // namespace

class TestFaultInjection : public QObject {
    Q_OBJECT
private slots:
    void failedSaveKeepsOldFileAndText_data();
    void failedSaveKeepsOldFileAndText();
    void saveThroughLinks_data();
    void saveThroughLinks();
    void saveAfterFileChangedOnDiskWritesTheText_data();
    void saveAfterFileChangedOnDiskWritesTheText();
    void failedSettingsWriteKeepsFile_data();
    void failedSettingsWriteKeepsFile();
    void settingsThroughSymbolicLinkKeepsLink();
    void oddSettingsFileAtStartUp_data();
    void oddSettingsFileAtStartUp();
    void openRefusesPathsNoFileHas_data();
    void openRefusesPathsNoFileHas();
};

void TestFaultInjection::failedSaveKeepsOldFileAndText_data()
{
    QTest::addColumn<QString>("fault");
    for (const char *fault :
         {"full file system", "read-only file", "read-only folder", "FIFO in its place",
          "device in its place", "Save As: NUL in the name", "Save As: name too long", "Save As: empty name"})
        QTest::newRow(fault) << QString::fromLatin1(fault);
}

void TestFaultInjection::failedSaveKeepsOldFileAndText()
{
    QFETCH(QString, fault);
    if (fault.startsWith(u"read-only"))
        RUN_UNPRIVILEGED();

    WindowFixture f;
    EditorWin &w = f.open();
    const QString folder = f.path(QStringLiteral("work"));
    const bool full = fault == u"full file system";
    SmallFileSystem fs(folder, full);
    if (full && !fs.mounted())
        QSKIP("mounting a small tmpfs needs root (CAP_SYS_ADMIN)");
    QVERIFY(QFileInfo(folder).isDir());
    RestoreWritable restore{folder};
    QString path = folder + QStringLiteral("/prog.asm");
    QVERIFY(writeFile(path, oldBytes));
    QVERIFY(openInWindow(f, path));
    w.txtEdit->setText(edited);

    if (full) {
        QVERIFY(fs.fill());
    } else if (fault == u"read-only file") {
        QVERIFY(QFile::setPermissions(path, QFileDevice::ReadOwner | QFileDevice::ReadOther));
    } else if (fault == u"read-only folder") {
        QCOMPARE(::chmod(native(folder).constData(), 0555), 0);
    } else if (fault == u"FIFO in its place" || fault == u"device in its place") {
        // Saved over this path, the old file went elsewhere and something else took its name.
        QVERIFY(QFile::rename(path, path + QStringLiteral(".bak")));
        const mode_t mode = fault == u"FIFO in its place" ? S_IFIFO | 0644 : S_IFCHR | 0644;
        if (::mknod(native(path).constData(), mode, makedev(1, 3)) != 0 && errno == EPERM)
            QSKIP("making a device node needs root (CAP_MKNOD)");
        QVERIFY(QFileInfo::exists(path));
    }
    // The fault holds for this user.
    if (fault == u"read-only file")
        QVERIFY(!QFile(path).open(QIODevice::Append));
    else if (fault == u"read-only folder")
        QVERIFY(!QFile(folder + QStringLiteral("/probe")).open(QIODevice::WriteOnly));
    const QStringList before = listing(folder);
    const QByteArray old = fault.endsWith(u"place") ? QByteArray() : oldBytes;

    const bool saveAs = fault.startsWith(u"Save As");
    if (saveAs) {
        const QString target = fault.endsWith(u"NUL in the name") ? path + QString::fromUtf16(u"\0x.asm", 6)
                               : fault.endsWith(u"too long")      ? folder + u'/' + QString(300, u'n')
                                                                  : QStringLiteral("");
        f.platform.chooseFile(target);
    }
    f.platform.answer(kesto::Button::Ok);
    saveAs ? w.mnuZapiszjako() : w.mnuZapisz();

    QCOMPARE(f.platform.unexpectedBoxes, 0);
    QCOMPARE(f.platform.boxes.size(), 1);
    QCOMPARE(f.platform.boxes[0].text, cannotSave);
    expectTextKeptAndMarked(w, edited, path);
    QVERIFY(!w.doc.docUntitled);
    QCOMPARE(listing(folder), before); // nothing new, no temporary file left
    if (fault.endsWith(u"place"))
        QVERIFY(!QFileInfo(path).isFile()); // still the FIFO or the device, not replaced
    else
        QCOMPARE(readAll(path), old);
}

void TestFaultInjection::saveThroughLinks_data()
{
    QTest::addColumn<QString>("link");
    QTest::addColumn<bool>("ok"); // the answer to the hard-link question
    QTest::newRow("symbolic link") << "symbolic" << true;
    QTest::newRow("hard link, OK") << "hard" << true;
    QTest::newRow("hard link, Cancel") << "hard" << false;
}

void TestFaultInjection::saveThroughLinks()
{
    QFETCH(QString, link);
    QFETCH(bool, ok);
    WindowFixture f;
    EditorWin &w = f.open();
    QVERIFY(QDir(f.dir.path()).mkdir(QStringLiteral("real")));
    const QString target = f.path(QStringLiteral("real/prog.asm"));
    const QString path = f.path(QStringLiteral("prog.asm"));
    QVERIFY(writeFile(target, oldBytes));
    if (link == u"symbolic")
        QVERIFY(QFile::link(QStringLiteral("real/prog.asm"), path));
    else
        QCOMPARE(::link(native(target).constData(), native(path).constData()), 0);
    QVERIFY(openInWindow(f, path));
    w.txtEdit->setText(edited);

    if (link == u"hard")
        f.platform.answer(ok ? kesto::Button::Ok : kesto::Button::Cancel);
    w.mnuZapisz();
    QCOMPARE(f.platform.unexpectedBoxes, 0);
    const QByteArray saved("edited\r\n\xBF\xF3\xB3\xE6\r\n");
    if (link == u"symbolic") {
        // The link stays a link; the file it names gets the text.
        QVERIFY(f.platform.boxes.isEmpty());
        QCOMPARE(QFileInfo(path).symLinkTarget(), QFileInfo(target).absoluteFilePath());
        QCOMPARE(readAll(target), saved);
        QVERIFY(!w.doc.docChanged);
        return;
    }
    // A hard link cannot survive an atomic save: the user is asked first.
    QCOMPARE(f.platform.boxes.size(), 1);
    QVERIFY(f.platform.boxes[0].text.startsWith(QStringLiteral("Plik ") + path));
    QVERIFY(f.platform.boxes[0].text.endsWith(QStringLiteral("\r\r\nCzy mimo to zapisać plik?")));
    QCOMPARE(f.platform.boxes[0].buttons, kesto::Buttons::OkCancel);
    QCOMPARE(f.platform.boxes[0].icon, kesto::Icon::Exclamation);
    QCOMPARE(f.platform.boxes[0].title, QStringLiteral("KESTO IDE"));
    QCOMPARE(readAll(target), oldBytes); // the other name keeps the old text either way
    if (ok) {
        QCOMPARE(readAll(path), saved);
        QVERIFY(!w.doc.docChanged);
    } else {
        QCOMPARE(readAll(path), oldBytes);
        expectTextKeptAndMarked(w, edited, path);
    }
}

void TestFaultInjection::saveAfterFileChangedOnDiskWritesTheText_data()
{
    QTest::addColumn<QString>("change");
    QTest::newRow("replaced by another file") << "replaced";
    QTest::newRow("deleted") << "deleted";
}

void TestFaultInjection::saveAfterFileChangedOnDiskWritesTheText()
{
    // The program keeps no file open and no record of it between commands:
    // Save writes the editor's text to the path, whatever lies there now.
    QFETCH(QString, change);
    WindowFixture f;
    EditorWin &w = f.open();
    const QString path = f.path(QStringLiteral("prog.asm"));
    QVERIFY(writeFile(path, oldBytes));
    QVERIFY(openInWindow(f, path));
    w.txtEdit->setText(edited);
    if (change == u"replaced") {
        const QString other = f.path(QStringLiteral("other"));
        QVERIFY(writeFile(other, QByteArray(100'000, 'o')));
        QCOMPARE(::rename(native(other).constData(), native(path).constData()), 0);
    } else {
        QVERIFY(QFile::remove(path));
    }
    w.mnuZapisz();
    QVERIFY(f.platform.boxes.isEmpty());
    QCOMPARE(readAll(path), QByteArray("edited\r\n\xBF\xF3\xB3\xE6\r\n"));
    QVERIFY(!w.doc.docChanged);
    QCOMPARE(listing(f.dir.path()),
             QStringList({QStringLiteral("kestoide.ini"), QStringLiteral("prog.asm")}));
}

void TestFaultInjection::failedSettingsWriteKeepsFile_data()
{
    QTest::addColumn<QString>("fault");
    for (const char *fault : {"full file system", "read-only file", "read-only folder", "FIFO in its place"})
        QTest::newRow(fault) << QString::fromLatin1(fault);
}

void TestFaultInjection::failedSettingsWriteKeepsFile()
{
    QFETCH(QString, fault);
    if (fault.startsWith(u"read-only"))
        RUN_UNPRIVILEGED();

    WindowFixture f;
    EditorWin &w = f.open();
    // Settings live in the current directory of the moment: move it to the fault.
    const QString folder = f.path(QStringLiteral("cwd"));
    const bool full = fault == u"full file system";
    SmallFileSystem fs(folder, full);
    if (full && !fs.mounted())
        QSKIP("mounting a small tmpfs needs root (CAP_SYS_ADMIN)");
    QVERIFY(QFileInfo(folder).isDir());
    RestoreWritable restore{folder};
    const QString ini = folder + QStringLiteral("/kestoide.ini");
    if (fault == u"FIFO in its place")
        QCOMPARE(::mkfifo(native(ini).constData(), 0600), 0);
    else
        QVERIFY(writeFile(ini, "1\r\n"));
    if (full)
        QVERIFY(fs.fill());
    else if (fault == u"read-only file")
        QVERIFY(QFile::setPermissions(ini, QFileDevice::ReadOwner | QFileDevice::ReadOther));
    else if (fault == u"read-only folder")
        QCOMPARE(::chmod(native(folder).constData(), 0555), 0);
    const QStringList before = listing(folder);
    QVERIFY(QDir::setCurrent(folder));

    w.menu.mnuCOM3->trigger();
    QVERIFY(QDir::setCurrent(f.dir.path()));
    QCOMPARE(w.Text1->text(), settingsError);
    QCOMPARE(w.doc.comPort, QStringLiteral("3"));
    QVERIFY(w.menu.mnuCOM3->isChecked());
    QVERIFY(f.platform.boxes.isEmpty());
    QCOMPARE(listing(folder), before);
    if (fault == u"FIFO in its place")
        QVERIFY(QFileInfo(ini).exists() && !QFileInfo(ini).isFile());
    else
        QCOMPARE(readAll(ini), QByteArray("1\r\n"));
}

void TestFaultInjection::settingsThroughSymbolicLinkKeepsLink()
{
    WindowFixture f(nullptr, false);
    QVERIFY(QDir(f.dir.path()).mkdir(QStringLiteral("conf")));
    QVERIFY(writeFile(f.path(QStringLiteral("conf/real.ini")), "2\r\n"));
    QVERIFY(QFile::link(QStringLiteral("conf/real.ini"), f.path(QStringLiteral("kestoide.ini"))));
    EditorWin &w = f.open();
    QCOMPARE(w.doc.comPort, QStringLiteral("2"));
    w.mnuCOM4();
    QCOMPARE(w.Text1->text(), QStringLiteral("Zapisano ustawienia"));
    QVERIFY(QFileInfo(f.path(QStringLiteral("kestoide.ini"))).isSymLink());
    QCOMPARE(readAll(f.path(QStringLiteral("conf/real.ini"))), QByteArray("4\r\n"));
}

void TestFaultInjection::oddSettingsFileAtStartUp_data()
{
    QTest::addColumn<QString>("kind");
    QTest::newRow("2 GB sparse") << "huge";
    QTest::newRow("unreadable to the user") << "unreadable";
}

void TestFaultInjection::oddSettingsFileAtStartUp()
{
    QFETCH(QString, kind);
    if (kind == u"unreadable")
        RUN_UNPRIVILEGED();
    WindowFixture f(nullptr, false);
    const QString ini = f.path(QStringLiteral("kestoide.ini"));
    QVERIFY(writeFile(ini, "2\r\n"));
    if (kind == u"huge") {
        QFile big(ini); // only its first byte is read
        QVERIFY(big.open(QIODevice::ReadWrite) && big.resize(qint64(2) << 30));
    } else {
        QVERIFY(QFile::setPermissions(ini, QFileDevice::Permissions()));
        f.platform.answer(kesto::Button::Ok);
    }
    QElapsedTimer clock;
    clock.start();
    EditorWin &w = f.open();
    QVERIFY(clock.elapsed() < 5000);
    QCOMPARE(f.platform.unexpectedBoxes, 0);
    if (kind == u"huge") {
        QVERIFY(f.platform.boxes.isEmpty());
        QCOMPARE(w.doc.comPort, QStringLiteral("2"));
        QCOMPARE(QFileInfo(ini).size(), qint64(2) << 30);
        return;
    }
    // Warned, port 1; the new settings cannot replace a file the user may not write.
    QCOMPARE(f.platform.boxes.size(), 1);
    QVERIFY(
        f.platform.boxes[0].text.startsWith(QStringLiteral("Nie można otworzyć pliku konfiguracyjnego!")));
    QCOMPARE(w.doc.comPort, QStringLiteral("1"));
    QVERIFY(QFile::setPermissions(ini, QFileDevice::ReadOwner | QFileDevice::WriteOwner));
    QCOMPARE(readAll(ini), QByteArray("2\r\n"));
}

void TestFaultInjection::openRefusesPathsNoFileHas_data()
{
    QTest::addColumn<QString>("kind");
    for (const char *kind : {"empty", "NUL after an existing name", "name too long", "path too long"})
        QTest::newRow(kind) << QString::fromLatin1(kind);
}

void TestFaultInjection::openRefusesPathsNoFileHas()
{
    QFETCH(QString, kind);
    WindowFixture f;
    EditorWin &w = f.open();
    const QString first = f.path(QStringLiteral("first.asm"));
    QVERIFY(writeFile(first, "first\r\n"));
    QVERIFY(openInWindow(f, first));
    w.txtEdit->setText(edited);
    const QString status = w.Text1->text();

    QString bad;
    if (kind == u"NUL after an existing name")
        bad = first + QString::fromUtf16(u"\0.asm", 5); // must not open first.asm
    else if (kind == u"name too long")
        bad = f.path(QString(300, u'n'));
    else if (kind == u"path too long")
        bad = f.dir.path() + QStringLiteral("/d").repeated(3000);
    else
        bad = QStringLiteral("");
    f.platform.answer(kesto::Button::No); // discard the edit
    f.platform.chooseFile(bad);
    f.platform.answer(kesto::Button::Ok);
    w.mnuOtworz();
    QCOMPARE(f.platform.unexpectedBoxes, 0);
    QCOMPARE(f.platform.boxes.size(), 2);
    QCOMPARE(f.platform.boxes[1].text, QStringLiteral("Nie można otworzyć pliku: ") + bad);
    expectTextKeptAndMarked(w, edited, first);
    QCOMPARE(w.Text1->text(), status);
}

QTEST_MAIN(TestFaultInjection)
#include "tst_faultinjection.moc"
