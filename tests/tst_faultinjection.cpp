// Faults around saving, the settings file and Open, on the real window: a full
// file system, permissions (checked as an unprivileged user), files changed
// behind the program's back, paths no file system takes. Whatever fails, the
// old file stays byte for byte and the text stays in the editor, marked
// changed.

#include "platform/statedir.h"
#include "testsupport.h"
#include "unprivileged.h"

#include <QAction>
#include <QCoreApplication>
#include <QElapsedTimer>

#include <cerrno>

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
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

// Root ignores permission bits: as root, the row runs again as nobody and
// that run's verdict is this row's.
#define RUN_UNPRIVILEGED()                                                                                   \
    do {                                                                                                     \
        if (::geteuid() == 0) {                                                                              \
            QString test = QString::fromLatin1(QTest::currentTestFunction());                                \
            const QString function = test;                                                                   \
            if (QTest::currentDataTag())                                                                     \
                test += u':' + QString::fromLatin1(QTest::currentDataTag());                                 \
            const NobodyRun run = runCopyAsNobody({test});                                                   \
            if (!run.skipReason.isEmpty())                                                                   \
                QSKIP(qPrintable(run.skipReason));                                                           \
            QVERIFY2(run.finished &&run.exitCode == 0 &&                                                     \
                         run.output.contains(QStringLiteral("PASS   : TestFaultInjection::") + function),    \
                     qPrintable(run.output));                                                                \
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

// Sets or clears the immutable flag (root, on file systems that have it).
bool setImmutable(const QString &path, bool on)
{
    const int fd = ::open(native(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return false;
    int flags = 0;
    bool done = ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
    flags = on ? flags | FS_IMMUTABLE_FL : flags & ~FS_IMMUTABLE_FL;
    done = done && ::ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
    ::close(fd);
    return done;
}

// Lets QTemporaryDir remove the file again.
struct ClearImmutable {
    QString path;
    ~ClearImmutable() { setImmutable(path, false); }
};

// Records and backups of unfinished saves; none once a save is over.
QStringList stateFiles() { return listing(stateDirectory()); }

} // namespace

class TestFaultInjection : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void failedSaveKeepsOldFileAndText_data();
    void failedSaveKeepsOldFileAndText();
    void fullDiskDuringInPlaceRewriteBringsOldContentBack();
    void saveAsksBeforeWritingOverAChangeMadeElsewhere_data();
    void saveAsksBeforeWritingOverAChangeMadeElsewhere();
    void knownFileFollowsSaveAsOnlyWhenItWrites();
    void failedSettingsWriteKeepsFile_data();
    void failedSettingsWriteKeepsFile();
    void settingsInFolderNotWritableAreRewrittenInPlace();
    void settingsThroughSymbolicLinkKeepsLink();
    void oddSettingsFileAtStartUp_data();
    void oddSettingsFileAtStartUp();
    void openRefusesPathsNoFileHas_data();
    void openRefusesPathsNoFileHas();

private:
    QTemporaryDir m_stateHome;
};

void TestFaultInjection::initTestCase()
{
    // The program's own folder for backups and records, apart from the user's.
    QVERIFY(m_stateHome.isValid());
    qputenv("XDG_STATE_HOME", QFile::encodeName(m_stateHome.path()));
}

void TestFaultInjection::failedSaveKeepsOldFileAndText_data()
{
    QTest::addColumn<QString>("fault");
    for (const char *fault : {"full file system", "read-only file", "read-only to its owner",
                              "immutable file", "FIFO in its place", "device in its place",
                              "Save As: NUL in the name", "Save As: name too long", "Save As: empty name"})
        QTest::newRow(fault) << QString::fromLatin1(fault);
}

void TestFaultInjection::failedSaveKeepsOldFileAndText()
{
    // A read-only or immutable file is refused even to root, as on the
    // systems the program was made for.
    QFETCH(QString, fault);
    // Root could write it: the user's own rights count.
    if (fault == u"read-only to its owner")
        RUN_UNPRIVILEGED();
    WindowFixture f;
    EditorWin &w = f.open();
    const QString folder = f.path(QStringLiteral("work"));
    const bool full = fault == u"full file system";
    SmallFileSystem fs(folder, full);
    if (full && !fs.mounted())
        QSKIP("mounting a small tmpfs needs root (CAP_SYS_ADMIN)");
    QVERIFY(QFileInfo(folder).isDir());
    QString path = folder + QStringLiteral("/prog.asm");
    QVERIFY(writeFile(path, oldBytes));
    const ClearImmutable clear{path};
    QVERIFY(openInWindow(f, path));
    w.txtEdit->setText(edited);

    if (full) {
        QVERIFY(fs.fill());
    } else if (fault == u"read-only file") {
        QVERIFY(QFile::setPermissions(path, QFileDevice::ReadOwner | QFileDevice::ReadOther));
    } else if (fault == u"read-only to its owner") {
        QCOMPARE(::chmod(native(path).constData(), 0464), 0);
        QVERIFY(!QFile(path).open(QIODevice::Append));
    } else if (fault == u"immutable file") {
        if (!setImmutable(path, true))
            QSKIP("the immutable flag needs root and a file system that has it");
        QVERIFY(!QFile(path).open(QIODevice::Append)); // it stops root too
    } else if (fault == u"FIFO in its place" || fault == u"device in its place") {
        // Saved over this path, the old file went elsewhere and something else took its name.
        QVERIFY(QFile::rename(path, path + QStringLiteral(".bak")));
        const mode_t mode = fault == u"FIFO in its place" ? S_IFIFO | 0644 : S_IFCHR | 0644;
        if (::mknod(native(path).constData(), mode, makedev(1, 3)) != 0 && errno == EPERM)
            QSKIP("making a device node needs root (CAP_MKNOD)");
        QVERIFY(QFileInfo::exists(path));
    }
    const QStringList before = listing(folder);
    const bool replaced = fault.endsWith(u"place");
    const bool saveAs = fault.startsWith(u"Save As");
    if (saveAs) {
        const QString target = fault.endsWith(u"NUL in the name") ? path + QString::fromUtf16(u"\0x.asm", 6)
                               : fault.endsWith(u"too long")      ? folder + u'/' + QString(300, u'n')
                                                                  : QStringLiteral("");
        f.platform.chooseFile(target);
    }
    if (replaced) // the file the document came from is gone: asked first
        f.platform.answer(kesto::Button::Ok);
    f.platform.answer(kesto::Button::Ok);
    saveAs ? w.mnuZapiszjako() : w.mnuZapisz();

    QCOMPARE(f.platform.unexpectedBoxes, 0);
    QCOMPARE(f.platform.boxes.size(), replaced ? 2 : 1);
    QCOMPARE(f.platform.boxes.last().text, cannotSave);
    expectTextKeptAndMarked(w, edited, path);
    QVERIFY(!w.doc.docUntitled);
    QCOMPARE(listing(folder), before); // nothing new, no temporary file left
    if (replaced)
        QVERIFY(!QFileInfo(path).isFile()); // still the FIFO or the device, not replaced
    else
        QCOMPARE(readAll(path), oldBytes);
    QCOMPARE(stateFiles(), QStringList());
}

void TestFaultInjection::fullDiskDuringInPlaceRewriteBringsOldContentBack()
{
    // A file with a second name is rewritten in place; the disk fills up
    // half-way through the new text.
    WindowFixture f;
    EditorWin &w = f.open();
    const QString folder = f.path(QStringLiteral("work"));
    SmallFileSystem fs(folder, true);
    if (!fs.mounted())
        QSKIP("mounting a small tmpfs needs root (CAP_SYS_ADMIN)");
    const QString path = folder + QStringLiteral("/prog.asm");
    const QString other = folder + QStringLiteral("/other name.asm");
    const QByteArray old = QByteArray("old text\r\n").repeated(800);
    QVERIFY(writeFile(path, old));
    QCOMPARE(::link(native(path).constData(), native(other).constData()), 0);
    struct stat before {};
    QCOMPARE(::stat(native(path).constData(), &before), 0);
    QVERIFY(openInWindow(f, path));
    const QString text(100'000, u'n'); // more than the file system holds
    w.txtEdit->setText(text);
    const QStringList names = listing(folder);

    f.platform.answer(kesto::Button::Ok);
    QVERIFY(!w.mnuZapisz());
    QCOMPARE(f.platform.unexpectedBoxes, 0);
    QCOMPARE(f.platform.boxes.size(), 1);
    QCOMPARE(f.platform.boxes[0].text, cannotSave);
    QCOMPARE(readAll(path), old);
    QCOMPARE(readAll(other), old);
    struct stat after {};
    QCOMPARE(::stat(native(path).constData(), &after), 0);
    QCOMPARE(after.st_ino, before.st_ino);
    QCOMPARE(after.st_nlink, nlink_t(2));
    QCOMPARE(listing(folder), names); // the backup is gone again
    QCOMPARE(stateFiles(), QStringList());
    expectTextKeptAndMarked(w, text, path);
}

void TestFaultInjection::saveAsksBeforeWritingOverAChangeMadeElsewhere_data()
{
    QTest::addColumn<bool>("removed"); // else another program put a new file there
    QTest::addColumn<bool>("ok");
    QTest::newRow("replaced, OK writes") << false << true;
    QTest::newRow("replaced, Cancel keeps theirs") << false << false;
    QTest::newRow("removed, OK writes") << true << true;
}

void TestFaultInjection::saveAsksBeforeWritingOverAChangeMadeElsewhere()
{
    QFETCH(bool, removed);
    QFETCH(bool, ok);
    WindowFixture f;
    EditorWin &w = f.open();
    const QString path = f.path(QStringLiteral("prog.asm"));
    QVERIFY(writeFile(path, oldBytes));
    QVERIFY(openInWindow(f, path));
    // A character Windows-1250 lacks: its question comes second.
    const QString text = edited + QStringLiteral("☺");
    w.txtEdit->setText(text);
    const QByteArray theirs(100'000, 'o');
    if (removed) {
        QVERIFY(QFile::remove(path));
    } else {
        const QString other = f.path(QStringLiteral("other"));
        QVERIFY(writeFile(other, theirs));
        QCOMPARE(::rename(native(other).constData(), native(path).constData()), 0);
    }
    f.platform.answer(ok ? kesto::Button::Ok : kesto::Button::Cancel);
    if (ok)
        f.platform.answer(kesto::Button::Ok);

    QCOMPARE(w.mnuZapisz(), ok);
    QCOMPARE(f.platform.unexpectedBoxes, 0);
    QCOMPARE(f.platform.boxes.size(), ok ? 2 : 1);
    const ShownBox &box = f.platform.boxes[0];
    QCOMPARE(box.text, QStringLiteral("Plik ") + path +
                           (removed ? QStringLiteral(" został usunięty lub przeniesiony po ostatnim otwarciu "
                                                     "lub zapisie.")
                                    : QStringLiteral(" został zmieniony przez inny program po ostatnim "
                                                     "otwarciu lub zapisie.")) +
                           QStringLiteral("\r\r\nCzy mimo to zapisać plik?"));
    QCOMPARE(box.buttons, kesto::Buttons::OkCancel);
    QCOMPARE(box.icon, kesto::Icon::Exclamation);
    QCOMPARE(box.title, QStringLiteral("KESTO IDE"));
    if (!ok) {
        QCOMPARE(readAll(path), theirs);
        expectTextKeptAndMarked(w, text, path);
        return;
    }
    QVERIFY(f.platform.boxes[1].text.startsWith(QStringLiteral("Tekstu nie można w całości zapisać")));
    QCOMPARE(readAll(path), QByteArray("edited\r\n\xBF\xF3\xB3\xE6?\r\n"));
    QVERIFY(!w.doc.docChanged);
    // What Save wrote is the document's file now: the next save asks nothing.
    w.txtEdit->setText(edited);
    QVERIFY(w.mnuZapisz());
    QCOMPARE(f.platform.boxes.size(), 2);
}

void TestFaultInjection::knownFileFollowsSaveAsOnlyWhenItWrites()
{
    WindowFixture f;
    EditorWin &w = f.open();
    const QString first = f.path(QStringLiteral("first.asm"));
    const QString second = f.path(QStringLiteral("second.asm"));
    QVERIFY(writeFile(first, oldBytes));
    QVERIFY(openInWindow(f, first));
    w.txtEdit->setText(edited);
    f.platform.chooseFile(second);
    QVERIFY(w.mnuZapiszjako());
    // The first file is no longer the document's: its changes are no concern of Save.
    QVERIFY(writeFile(first, "theirs\r\n"));
    QVERIFY(w.mnuZapisz());
    QVERIFY(f.platform.boxes.isEmpty());

    // A failed Save As leaves the known file as it was.
    f.platform.chooseFile(f.path(QStringLiteral("nowhere/x.asm")));
    f.platform.answer(kesto::Button::Ok);
    QVERIFY(!w.mnuZapiszjako());
    QVERIFY(w.mnuZapisz());
    QCOMPARE(f.platform.boxes.size(), 1); // the failure's report only

    // Save As onto its own file, changed since, asks as Save does.
    QVERIFY(writeFile(second, "theirs\r\n"));
    w.txtEdit->setText(QStringLiteral("mine"));
    f.platform.chooseFile(second);
    f.platform.answer(kesto::Button::Cancel);
    QVERIFY(!w.mnuZapiszjako());
    QCOMPARE(f.platform.unexpectedBoxes, 0);
    QCOMPARE(f.platform.boxes.size(), 2);
    QVERIFY(f.platform.boxes[1].text.startsWith(QStringLiteral("Plik ") + second +
                                                QStringLiteral(" został zmieniony")));
    QCOMPARE(readAll(second), QByteArray("theirs\r\n"));
    expectTextKeptAndMarked(w, QStringLiteral("mine"), second);
}

void TestFaultInjection::failedSettingsWriteKeepsFile_data()
{
    QTest::addColumn<QString>("fault");
    for (const char *fault : {"full file system", "read-only file", "FIFO in its place"})
        QTest::newRow(fault) << QString::fromLatin1(fault);
}

void TestFaultInjection::failedSettingsWriteKeepsFile()
{
    QFETCH(QString, fault);
    WindowFixture f;
    EditorWin &w = f.open();
    // Settings live in the current directory of the moment: move it to the fault.
    const QString folder = f.path(QStringLiteral("cwd"));
    const bool full = fault == u"full file system";
    SmallFileSystem fs(folder, full);
    if (full && !fs.mounted())
        QSKIP("mounting a small tmpfs needs root (CAP_SYS_ADMIN)");
    QVERIFY(QFileInfo(folder).isDir());
    const QString ini = folder + QStringLiteral("/kestoide.ini");
    if (fault == u"FIFO in its place")
        QCOMPARE(::mkfifo(native(ini).constData(), 0600), 0);
    else
        QVERIFY(writeFile(ini, "1\r\n"));
    if (full)
        QVERIFY(fs.fill());
    else if (fault == u"read-only file")
        QVERIFY(QFile::setPermissions(ini, QFileDevice::ReadOwner | QFileDevice::ReadOther));
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

void TestFaultInjection::settingsInFolderNotWritableAreRewrittenInPlace()
{
    // The settings file may be written while its folder may not: it is
    // emptied and rewritten whole, as a plain write would do.
    RUN_UNPRIVILEGED();
    WindowFixture f;
    EditorWin &w = f.open();
    const QString folder = f.path(QStringLiteral("cwd"));
    QVERIFY(QDir().mkdir(folder));
    RestoreWritable restore{folder};
    const QString ini = folder + QStringLiteral("/kestoide.ini");
    QVERIFY(writeFile(ini, "1\r\n"));
    QCOMPARE(::chmod(native(folder).constData(), 0555), 0);
    QVERIFY(!QFile(folder + QStringLiteral("/probe")).open(QIODevice::WriteOnly));
    struct stat before {};
    QCOMPARE(::stat(native(ini).constData(), &before), 0);
    QVERIFY(QDir::setCurrent(folder));

    w.menu.mnuCOM3->trigger();
    QVERIFY(QDir::setCurrent(f.dir.path()));
    QCOMPARE(w.Text1->text(), QStringLiteral("Zapisano ustawienia"));
    QVERIFY(f.platform.boxes.isEmpty());
    QCOMPARE(readAll(ini), QByteArray("3\r\n"));
    QCOMPARE(listing(folder), QStringList{QStringLiteral("kestoide.ini")});
    struct stat after {};
    QCOMPARE(::stat(native(ini).constData(), &after), 0);
    QCOMPARE(after.st_ino, before.st_ino);
    QCOMPARE(stateFiles(), QStringList());
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
