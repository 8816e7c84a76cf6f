// Faults the system makes around saving and the settings file: a full file
// system, permissions (checked as an unprivileged user), special files and
// names no file system takes, files changed behind the program's back.
// Whatever fails, every file stays as it was, byte for byte.

#include "disk/durablewrite.h"
#include "disk/fileio.h"
#include "disk/statedir.h"
#include "failurereason.h"
#include "modzapisz.h"
#include "testsupport.h"
#include "unprivileged.h"

#include <QAction>
#include <QDirIterator>

#include <csignal>
#include <filesystem>
#include <functional>
#include <optional>

#ifdef Q_OS_UNIX
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/sysmacros.h>
#include <unistd.h>
#else
#include <qt_windows.h>
#endif

using namespace kesto;

namespace {

const QString cannotSave =
    QStringLiteral("Nie można zapisać pliku. Sprawdź czy podana ścieżka jest właściwa.");
const QString settingsError = QStringLiteral("Błąd podczas zapisywania ustawień");
const QByteArray oldBytes("old text\r\n\xB9\r\n"); // ą in Windows-1250
const QString edited = QStringLiteral("edited\r\nżółć");

#ifdef Q_OS_UNIX
// A folder on which a 64 KiB tmpfs may be mounted (root only), unmounted
// again when it goes.
class SmallDisk {
public:
    explicit SmallDisk(const QString &where) : m_path(where) { QDir().mkpath(where); }
    ~SmallDisk()
    {
        if (m_mounted)
            ::umount2(native(m_path).constData(), MNT_DETACH);
    }
    SmallDisk(const SmallDisk &) = delete;
    SmallDisk &operator=(const SmallDisk &) = delete;
    bool mount()
    {
        m_mounted = ::mount("tmpfs", native(m_path).constData(), "tmpfs", MS_NOSUID, "size=64k") == 0;
        return m_mounted;
    }
    bool makeReadOnly() const
    {
        return ::mount("tmpfs", native(m_path).constData(), "tmpfs", MS_REMOUNT | MS_RDONLY, nullptr) == 0;
    }
    // Fills it to the last block.
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

// Gives a folder back its write bit, so QTemporaryDir can remove it.
struct RestoreWritable {
    QString path;
    ~RestoreWritable() { ::chmod(native(path).constData(), 0700); }
};
#else
// Windows has no file system a test could mount: only the folder.
struct SmallDisk {
    explicit SmallDisk(const QString &where) { QDir().mkpath(where); }
};
#endif

// What makes a file the one it is, beside its bytes: its inode and mode, or
// on Windows its file index and attributes.
QByteArray identityText(const QString &path, bool &regular)
{
#ifdef Q_OS_UNIX
    struct stat st {};
    regular = ::lstat(native(path).constData(), &st) == 0 && S_ISREG(st.st_mode);
    return QByteArray::number(quint64(st.st_ino)) + ' ' + QByteArray::number(st.st_mode, 8);
#else
    const HANDLE h = CreateFileW(reinterpret_cast<const wchar_t *>(path.utf16()), FILE_READ_ATTRIBUTES,
                                 FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                 OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    BY_HANDLE_FILE_INFORMATION about{};
    const bool got = h != INVALID_HANDLE_VALUE && GetFileInformationByHandle(h, &about);
    if (h != INVALID_HANDLE_VALUE)
        CloseHandle(h);
    regular = got && !(about.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY);
    return QByteArray::number((quint64(about.nFileIndexHigh) << 32) | about.nFileIndexLow) + ' ' +
           QByteArray::number(quint64(about.dwFileAttributes), 16);
#endif
}

// Records and backups of unfinished saves; none once a save is over.
QStringList stateFiles() { return listing(stateDirectory()); }

// Every entry under `dir`: its inode and mode and, for a plain file, its
// bytes. Special files are not opened: a FIFO would wait for a writer.
QMap<QString, QByteArray> snapshot(const QString &dir)
{
    QMap<QString, QByteArray> entries;
    QDirIterator it(dir, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString p = it.next();
        bool regular = false;
        const QByteArray about = identityText(p, regular);
        entries.insert(p, about + '\n' + (regular ? readAll(p) : QByteArray()));
    }
    return entries;
}

void expectTextKeptAndMarked(const EditorWin &w, const QString &text, const QString &path)
{
    QCOMPARE(w.txtEdit->text(), text);
    QCOMPARE(w.dlgPlik.FileName, path);
    QVERIFY(w.doc.docChanged);
    QCOMPARE(w.windowTitle(), QStringLiteral("KESTO IDE [") + path + QStringLiteral("] *"));
}

// A folder holding a source file and a subfolder, where a save is made to
// fail. What was done to make it fail is undone when the scene goes.
class Scene {
public:
    Scene()
    {
        writeFile(file, oldBytes);
        QDir(dir.path()).mkdir(QStringLiteral("sub"));
        writeFile(path(QStringLiteral("sub/inner.asm")), "inner\r\n");
    }
    ~Scene()
    {
        liftFileSizeLimit();
#ifdef Q_OS_UNIX
        if (!m_immutable.isEmpty())
            setImmutable(m_immutable, false);
#else
        release();
#endif
    }
    Scene(const Scene &) = delete;
    Scene &operator=(const Scene &) = delete;

    QString path(const QString &name) const { return dir.filePath(name); }
    // A second name makes the save rewrite the file in place.
    bool secondName(const QString &of)
    {
        std::error_code error;
        std::filesystem::create_hard_link(QFileInfo(of).filesystemFilePath(),
                                          QFileInfo(of + QStringLiteral(" (2)")).filesystemFilePath(), error);
        return !error;
    }
#ifdef Q_OS_UNIX
    // Writes past 16 KiB fail as on a full disk, for root too: EFBIG, as
    // SIGXFSZ is ignored.
    bool limitFileSize()
    {
        ::signal(SIGXFSZ, SIG_IGN);
        if (::getrlimit(RLIMIT_FSIZE, &m_limit) != 0)
            return false;
        struct rlimit small = m_limit;
        small.rlim_cur = 16384;
        m_limited = ::setrlimit(RLIMIT_FSIZE, &small) == 0;
        return m_limited;
    }
    void liftFileSizeLimit()
    {
        if (m_limited)
            ::setrlimit(RLIMIT_FSIZE, &m_limit);
        m_limited = false;
    }
    bool makeImmutable(const QString &p)
    {
        if (!setImmutable(p, true))
            return false;
        m_immutable = p;
        return true;
    }
#else
    static void liftFileSizeLimit() {}
    // Another program holds the file open, writing, and lets others only read it.
    bool holdOpen(const QString &p)
    {
        m_held = CreateFileW(reinterpret_cast<const wchar_t *>(QDir::toNativeSeparators(p).utf16()),
                             GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
        return m_held != INVALID_HANDLE_VALUE;
    }
    void release()
    {
        if (m_held != INVALID_HANDLE_VALUE)
            CloseHandle(m_held);
        m_held = INVALID_HANDLE_VALUE;
    }
#endif
#ifdef Q_OS_UNIX
    // A copy of the file on a file system of its own, too small for the new
    // text; none unless root may mount it.
    std::optional<QString> onSmallDisk()
    {
        const QString copy = m_small + QStringLiteral("/old.asm");
        if (!m_disk.mount() || !writeFile(copy, oldBytes))
            return std::nullopt;
        return copy;
    }
    // The same copy, its file system mounted read-only.
    std::optional<QString> onReadOnlyDisk()
    {
        const std::optional<QString> copy = onSmallDisk();
        return copy && m_disk.makeReadOnly() ? copy : std::nullopt;
    }
#endif

    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("old.asm"));

private:
    const QString m_small = dir.filePath(QStringLiteral("small"));
    SmallDisk m_disk{m_small};
#ifdef Q_OS_UNIX
    struct rlimit m_limit {};
    bool m_limited = false;
    QString m_immutable;
#else
    HANDLE m_held = INVALID_HANDLE_VALUE;
#endif
};

// Saves a text too large for the small disk to `target`, which the writer
// must refuse: one report, and every entry of the scene as it was, down to
// its inode; no backup or record of an unfinished save left behind.
// `why` is what the status line then says of it.
void expectSaveRefused(const QString &target, Scene &scene, const QString &why)
{
    const QMap<QString, QByteArray> before = snapshot(scene.dir.path());
    SourceEditor editor;
    editor.setText(QString(100'000, u'n'));
    ScriptedPlatform platform;
    QString failure;
    const bool saved = modZapisz::SaveSourceFile(target, editor, platform, nullptr, nullptr, &failure);
    scene.liftFileSizeLimit();
    QVERIFY(!saved);
    QCOMPARE(failure, why);
    QCOMPARE(snapshot(scene.dir.path()), before);
    QCOMPARE(stateFiles(), QStringList());
    QCOMPARE(platform.boxes.size(), 1);
    expectBox(platform.boxes[0], cannotSave, Buttons::Ok, Icon::None, QStringLiteral("KESTOIDE"));
}

} // namespace

class TestFaultInjection : public QObject {
    Q_OBJECT
private slots:
    void refusedSaveLeavesEveryFileAsItWas();
    void oldContentThatCannotBePutBackStaysInANamedBackup_data();
    void oldContentThatCannotBePutBackStaysInANamedBackup();
    void saveAsksBeforeWritingOverAChangeMadeElsewhere();
    void knownFileFollowsSaveAsOnlyWhenItWrites();
    void failedSettingsWriteKeepsFileAndShowsOnStatusLine();
#ifdef Q_OS_UNIX // permission bits and symbolic links; QFile::link makes a shell shortcut on Windows
    void fileItsUserMayNotWriteIsRefusedThoughRootCould();
    void settingsInFolderNotWritableAreRewrittenInPlace();
    void settingsThroughSymbolicLinkKeepsLink();
#endif

private:
    OwnStateHome m_stateHome;
};

void TestFaultInjection::refusedSaveLeavesEveryFileAsItWas()
{
    // Each sets up one refusal and gives the path to save to, or nothing
    // where this system cannot make it so. A read-only or immutable file is
    // refused even to root, as on the systems the program was made for.
    using Made = std::optional<QString>;
    const QString readOnly = QStringLiteral("plik tylko do odczytu"),
                  full = QStringLiteral("brak miejsca na dysku");
    const QString tooLarge = QStringLiteral("plik jest za duży"),
                  notRegular = QStringLiteral("to nie jest zwykły plik");
#ifdef Q_OS_WIN
    const QString heldOpen = qt_error_string(ERROR_SHARING_VIOLATION);
#endif
    const std::tuple<const char *, std::function<Made(Scene &)>, QString> refusals[] = {
        {"missing folder", [](Scene &s) { return s.path(QStringLiteral("nowhere/x.asm")); },
         QStringLiteral("brak katalogu")},
        {"a directory", [](Scene &s) { return s.path(QStringLiteral("sub")); },
         qt_error_string(systemError::isDirectory)},
        {"empty name", [](Scene &) { return QStringLiteral(""); }, qt_error_string(systemError::badName)},
        // Cut at the NUL, the name would be the file's own.
        {"NUL after the file's name", [](Scene &s) { return s.file + QString::fromUtf16(u"\0x.asm", 6); },
         qt_error_string(systemError::badName)},
        {"name too long", [](Scene &s) { return s.path(QString(300, u'n')); },
         qt_error_string(systemError::nameTooLong)},
        {"read-only file",
         [](Scene &s) {
             QFile::setPermissions(s.file, QFileDevice::ReadOwner | QFileDevice::ReadOther);
             return s.file;
         },
         readOnly},
#ifdef Q_OS_WIN
        {"file held open by another program",
         [](Scene &s) { return s.holdOpen(s.file) ? Made(s.file) : std::nullopt; }, heldOpen},
#else // immutable files, FIFOs, device nodes, file size limits and mounts are POSIX
        {"immutable file", [](Scene &s) { return s.makeImmutable(s.file) ? Made(s.file) : std::nullopt; },
         readOnly},
        {"FIFO",
         [](Scene &s) {
             const QString fifo = s.path(QStringLiteral("fifo.asm"));
             return ::mkfifo(native(fifo).constData(), 0644) == 0 ? Made(fifo) : std::nullopt;
         },
         notRegular},
        // As root even /dev/null would be replaced by a plain file.
        {"device",
         [](Scene &s) {
             const QString device = s.path(QStringLiteral("device.asm"));
             return ::mknod(native(device).constData(), S_IFCHR | 0644, makedev(1, 3)) == 0 ? Made(device)
                                                                                            : std::nullopt;
         },
         notRegular},
        {"file size limit", [](Scene &s) { return s.limitFileSize() ? Made(s.file) : std::nullopt; },
         tooLarge},
        {"file size limit, in place",
         [](Scene &s) { return s.secondName(s.file) && s.limitFileSize() ? Made(s.file) : std::nullopt; },
         tooLarge},
        {"full file system", [](Scene &s) { return s.onSmallDisk(); }, full},
        {"read-only file system", [](Scene &s) { return s.onReadOnlyDisk(); },
         QStringLiteral("nośnik tylko do odczytu")},
        {"full file system, in place",
         [](Scene &s) {
             const Made copy = s.onSmallDisk();
             return copy && s.secondName(*copy) ? copy : std::nullopt;
         },
         full},
#endif
    };
    QStringList notMade;
    for (const auto &[what, make, why] : refusals) {
        Scene scene;
        const Made target = make(scene);
        if (!target) {
            notMade << QString::fromLatin1(what);
            continue;
        }
        expectSaveRefused(*target, scene, why);
        if (QTest::currentTestFailed())
            return qWarning("... saving with %s", what);
    }
    if (!notMade.isEmpty())
        QSKIP(qPrintable(QStringLiteral("the rest holds; needs root or the file system's support: ") +
                         notMade.join(QStringLiteral(", "))));
}

void TestFaultInjection::oldContentThatCannotBePutBackStaysInANamedBackup_data()
{
    QTest::addColumn<int>("links");
    QTest::newRow("in place: the rewrite and the putting back fail") << 2;
#ifdef Q_OS_WIN
    QTest::newRow("replace: the old file left under the backup's name") << 1;
#endif
}

void TestFaultInjection::oldContentThatCannotBePutBackStaysInANamedBackup()
{
    QFETCH(int, links);
    Scene scene;
    QVERIFY(links == 1 || scene.secondName(scene.file));
    const QFileInfo target(scene.file);
    fileio::watchDurableSteps([&target](const fileio::DurableStep &step) {
#ifdef Q_OS_WIN // as ReplaceFileW may leave it; then it cannot be moved back either
        if (step.kind == fileio::DurableStep::Replace)
            return !MoveFileW(
                reinterpret_cast<const wchar_t *>(QDir::toNativeSeparators(step.to).utf16()),
                reinterpret_cast<const wchar_t *>(QDir::toNativeSeparators(step.backup).utf16()));
#endif
        return QFileInfo(step.to.isEmpty() ? step.path : step.to) != target;
    });
    SourceEditor editor;
    editor.setText(edited);
    ScriptedPlatform platform;
    const bool saved = modZapisz::SaveSourceFile(scene.file, editor, platform, nullptr);
    fileio::watchDurableSteps({});
    QVERIFY(!saved && platform.boxes.size() == 1);
    const QString told = QStringLiteral("Nie można zapisać pliku, a jego poprzedniej treści nie udało się "
                                        "przywrócić. Jest ona zachowana w pliku: ");
    const QString backup = platform.boxes[0].text.mid(told.size());
    QCOMPARE(platform.boxes[0].text, told + backup);
    QVERIFY2(QFileInfo(backup).fileName().startsWith(u"old.asm.kestoide-backup-"), qPrintable(backup));
    QCOMPARE(readAll(backup), oldBytes);
    // No later save takes it for a stray file of its own.
    QVERIFY(modZapisz::SaveSourceFile(scene.file, editor, platform, nullptr));
    QCOMPARE(readAll(backup), oldBytes);
    for (const QString &record : stateFiles()) // kept for the repair at the next start
        QFile::remove(stateDirectory() + u'/' + record);
}

#ifdef Q_OS_UNIX
void TestFaultInjection::fileItsUserMayNotWriteIsRefusedThoughRootCould()
{
    // Its group may write it, its owner may not: the user's own rights count.
    RUN_UNPRIVILEGED();
    Scene scene;
    QCOMPARE(::chmod(native(scene.file).constData(), 0464), 0);
    QVERIFY(!QFile(scene.file).open(QIODevice::Append));
    expectSaveRefused(scene.file, scene, QStringLiteral("brak uprawnień"));
}
#endif

void TestFaultInjection::saveAsksBeforeWritingOverAChangeMadeElsewhere()
{
    WindowFixture f;
    EditorWin &w = f.open();
    const QString path = f.path(QStringLiteral("prog.asm"));
    QVERIFY(openThroughDialog(f, path, oldBytes));
    // A character Windows-1250 lacks: its question comes second.
    const QString text = edited + QStringLiteral("☺");
    w.txtEdit->setText(text);
    const auto question = [&](const QString &what) {
        return QStringLiteral("Plik ") + path + what + QStringLiteral("\r\r\nCzy mimo to zapisać plik?");
    };
    const QString replaced =
        question(QStringLiteral(" został zmieniony przez inny program po ostatnim otwarciu lub zapisie."));
    // Another program puts a new file in its place.
    const QByteArray theirs(100'000, 'o');
    const QString other = f.path(QStringLiteral("other"));
    QVERIFY(writeFile(other, theirs));
    std::filesystem::rename(QFileInfo(other).filesystemFilePath(), QFileInfo(path).filesystemFilePath());

    f.platform.answer(Button::Cancel);
    QVERIFY(!w.mnuZapisz());
    QCOMPARE(f.platform.boxes.size(), 1);
    expectBox(f.platform.boxes[0], replaced, Buttons::OkCancel, Icon::Exclamation,
              QStringLiteral("KESTO IDE"));
    // Enter keeps the other program's work.
    QCOMPARE(f.platform.boxes[0].defaultButton, std::optional(Button::Cancel));
    QCOMPARE(readAll(path), theirs);
    expectTextKeptAndMarked(w, text, path);

    f.platform.answer(Button::Ok);
    f.platform.answer(Button::Ok);
    QVERIFY(w.mnuZapisz());
    QCOMPARE(f.platform.boxes.size(), 3);
    QCOMPARE(f.platform.boxes[1].text, replaced);
    QVERIFY(f.platform.boxes[2].text.startsWith(QStringLiteral("Tekstu nie można w całości zapisać")));
    QCOMPARE(readAll(path), QByteArray("edited\r\n\xBF\xF3\xB3\xE6?\r\n"));
    QVERIFY(!w.doc.docChanged);
    // What Save wrote is the document's file now: the next save asks nothing.
    w.txtEdit->setText(edited);
    QVERIFY(w.mnuZapisz());
    QCOMPARE(f.platform.boxes.size(), 3);

    // Removed or moved away since: asked too.
    QVERIFY(QFile::remove(path));
    f.platform.answer(Button::Ok);
    QVERIFY(w.mnuZapisz());
    QCOMPARE(f.platform.boxes.size(), 4);
    QCOMPARE(f.platform.boxes[3].text,
             question(QStringLiteral(" został usunięty lub przeniesiony po ostatnim otwarciu lub zapisie.")));
    QCOMPARE(readAll(path), QByteArray("edited\r\n\xBF\xF3\xB3\xE6\r\n"));
    QCOMPARE(f.platform.unexpectedBoxes, 0);
}

void TestFaultInjection::knownFileFollowsSaveAsOnlyWhenItWrites()
{
    WindowFixture f;
    EditorWin &w = f.open();
    const QString first = f.path(QStringLiteral("first.asm"));
    const QString second = f.path(QStringLiteral("second.asm"));
    QVERIFY(openThroughDialog(f, first, oldBytes));
    w.txtEdit->setText(edited);
    f.platform.chooseFile(second);
    QVERIFY(w.mnuZapiszjako());
    // The first file is no longer the document's: its changes are no concern of Save.
    QVERIFY(writeFile(first, "theirs\r\n"));
    QVERIFY(w.mnuZapisz());
    QVERIFY(f.platform.boxes.isEmpty());

    // A failed Save As leaves the known file as it was.
    f.platform.chooseFile(f.path(QStringLiteral("nowhere/x.asm")));
    f.platform.answer(Button::Ok);
    QVERIFY(!w.mnuZapiszjako());
    QVERIFY(w.mnuZapisz());
    QCOMPARE(f.platform.boxes.size(), 1); // the failure's report only

    // Save As onto its own file, changed since, asks as Save does.
    QVERIFY(writeFile(second, "theirs\r\n"));
    w.txtEdit->setText(QStringLiteral("mine"));
    f.platform.chooseFile(second);
    f.platform.answer(Button::Cancel);
    QVERIFY(!w.mnuZapiszjako());
    QCOMPARE(f.platform.unexpectedBoxes, 0);
    QCOMPARE(f.platform.boxes.size(), 2);
    QVERIFY(f.platform.boxes[1].text.startsWith(QStringLiteral("Plik ") + second +
                                                QStringLiteral(" został zmieniony")));
    QCOMPARE(readAll(second), QByteArray("theirs\r\n"));
    expectTextKeptAndMarked(w, QStringLiteral("mine"), second);
}

void TestFaultInjection::failedSettingsWriteKeepsFileAndShowsOnStatusLine()
{
    // Each puts a fault at the settings file's path, in an empty folder on
    // which a small disk may be mounted; false where this system cannot.
    const std::pair<const char *, std::function<bool(const QString &, SmallDisk &)>> faults[] = {
        {"a directory", [](const QString &ini, SmallDisk &) { return QDir().mkdir(ini); }},
#ifdef Q_OS_UNIX // FIFOs and mounts are POSIX
        {"a FIFO",
         [](const QString &ini, SmallDisk &) { return ::mkfifo(native(ini).constData(), 0600) == 0; }},
#endif
        {"a read-only file",
         [](const QString &ini, SmallDisk &) {
             return writeFile(ini, "1\r\n") &&
                    QFile::setPermissions(ini, QFileDevice::ReadOwner | QFileDevice::ReadOther);
         }},
#ifdef Q_OS_UNIX
        {"a full file system",
         [](const QString &ini, SmallDisk &disk) {
             return disk.mount() && writeFile(ini, "1\r\n") && disk.fill();
         }},
#endif
    };
    bool allMade = true;
    for (const auto &[what, make] : faults) {
        WindowFixture f;
        EditorWin &w = f.open();
        // Settings live in the current directory of the moment: move it to the fault.
        const QString folder = f.path(QStringLiteral("cwd"));
        SmallDisk disk(folder);
        if (!make(folder + QStringLiteral("/kestoide.ini"), disk)) {
            allMade = false;
            continue;
        }
        const QMap<QString, QByteArray> before = snapshot(folder);
        QVERIFY(QDir::setCurrent(folder));
        w.menu.mnuCOM3->trigger();
        QVERIFY(QDir::setCurrent(f.dir.path()));

        QCOMPARE(w.Text1->text(), settingsError);
        QCOMPARE(w.doc.comPort, QStringLiteral("3"));
        QVERIFY(w.menu.mnuCOM3->isChecked() && !w.menu.mnuCOM1->isChecked());
        QVERIFY(f.platform.boxes.isEmpty());
        QCOMPARE(snapshot(folder), before);
        if (QTest::currentTestFailed())
            return qWarning("... with %s in the settings file's place", what);
    }
    if (!allMade)
        QSKIP("the rest holds; a full file system needs root, to mount a small tmpfs");
}

#ifdef Q_OS_UNIX
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

#endif

QTEST_MAIN(TestFaultInjection)
#include "tst_faultinjection.moc"
