// The file writer in real processes on real files: each save situation keeps
// the file's owner, group, mode, links, extended attributes and ACL, as root and
// as an unprivileged user; saves killed at any moment leave the old content
// or the new, whole, or are put right at the next start.
//
// The saves run in a child: this program started again with
// `--save PATH BYTES SAVES [FILE-SIZE-LIMIT]`, which opens PATH in a real
// window, puts a text of about BYTES in, prints "saving" and saves SAVES times.

#include "disk/durablewrite.h"
#include "disk/fileio.h"
#include "disk/filewriter.h"
#include "disk/recoverywriter.h"
#include "disk/statedir.h"
#include "modzapisz.h"
#include "testsupport.h"
#include "unprivileged.h"

#include <QApplication>
#include <QDateTime>
#include <QElapsedTimer>
#include <QProcess>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <thread>

#ifdef Q_OS_WIN
#include "underwine.h"
#else
#include <fcntl.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>
#endif

using namespace kesto;
using namespace Qt::StringLiterals;

namespace {

const QByteArray oldBytes = QByteArray("old text \xB9\r\n").repeated(100);
constexpr qint64 bigSave = 20 << 20;
constexpr int killRounds = 8; // saves killed, from the start of the save to past its end

// The child's text: lines with Polish letters, about `bytes` long.
QString newText(qint64 bytes)
{
    QString block;
    for (int n = 0; n < 1000; ++n)
        block += QStringLiteral("\tld a,%1 ; zażółć gęślą jaźń\r\n").arg(n);
    return block.repeated(static_cast<qsizetype>(bytes / block.size() + 1));
}

QByteArray newBytes(qint64 bytes)
{
    return QByteArray::fromStdString(modZapisz::encodeSourceText(newText(bytes).toStdString()).bytes);
}

bool hardLink(const QString &file, const QString &name)
{
    std::error_code error;
    std::filesystem::create_hard_link(QFileInfo(file).filesystemFilePath(),
                                      QFileInfo(name).filesystemFilePath(), error);
    return !error;
}

int saveChild(const QString &path, qint64 bytes, int saves, qint64 fileSizeLimit)
{
    ScriptedPlatform platform;
    EditorWin win(platform);
    win.openFile(path);
    win.txtEdit->setText(newText(bytes));
#ifdef Q_OS_UNIX
    if (fileSizeLimit > 0) {
        // The first write past the limit ends the process (SIGXFSZ), in the
        // middle of the save, and leaves no core file.
        const struct rlimit noCore {
            0, 0
        };
        ::setrlimit(RLIMIT_CORE, &noCore);
        ::signal(SIGXFSZ, SIG_DFL);
        const struct rlimit limit {
            static_cast<rlim_t>(fileSizeLimit), RLIM_INFINITY
        };
        ::setrlimit(RLIMIT_FSIZE, &limit);
    }
#else
    Q_UNUSED(fileSizeLimit); // a limit of a process's file size is POSIX
#endif
    std::fputs("saving\n", stdout);
    std::fflush(stdout);
    bool saved = true;
    for (int n = 0; n < saves; ++n)
        saved = win.mnuZapisz() && saved;
    for (const ShownBox &box : platform.boxes)
        std::printf("box: %s\n", qPrintable(box.text));
    std::puts(saved ? "saved" : "not saved");
    return saved && platform.boxes.isEmpty() ? 0 : 1;
}

// Starts a save child as root and returns once it is about to save.
bool startSaving(QProcess &child, const QString &cwd, const QString &path, qint64 bytes,
                 qint64 fileSizeLimit = 0)
{
    child.setWorkingDirectory(cwd);
    child.start(QCoreApplication::applicationFilePath(),
                {QStringLiteral("--save"), path, QString::number(bytes), QStringLiteral("1"),
                 QString::number(fileSizeLimit)});
    while (!child.canReadLine()) {
        if (!child.waitForReadyRead(60'000))
            return false;
    }
    return child.readLine().trimmed() == "saving"; // "\r\n" on Windows
}

#ifdef Q_OS_UNIX
// Runs a save child to its end as `user`: root, or nobody.
NobodyRun runSaveChild(uint user, const QStringList &args, const QString &cwd, const QProcessEnvironment &env)
{
    if (user != 0)
        return runCopyAsNobody(args, cwd, env);
    NobodyRun r;
    QProcess child;
    QProcessEnvironment all = QProcessEnvironment::systemEnvironment();
    all.insert(env);
    child.setProcessEnvironment(all);
    child.setWorkingDirectory(cwd);
    child.setProcessChannelMode(QProcess::MergedChannels);
    child.start(QCoreApplication::applicationFilePath(), args);
    r.finished = child.waitForFinished(60'000) && child.exitStatus() == QProcess::NormalExit;
    r.exitCode = child.exitCode();
    r.output = QString::fromLocal8Bit(child.readAll());
    return r;
}
#endif

// How long a whole save of bigSave bytes to `path` takes here; -1 when it failed.
qint64 timeWholeSave(const QString &cwd, const QString &path)
{
    QProcess child;
    if (!startSaving(child, cwd, path, bigSave))
        return -1;
    QElapsedTimer clock;
    clock.start();
    return child.waitForFinished(60'000) && child.exitCode() == 0 ? clock.elapsed() : -1;
}

// Kills round `round` of the killed saves, a whole save taking `took` ms;
// the first round ends half-way through writing for sure (the file size limit).
bool killSave(const QString &cwd, const QString &path, qint64 took, int round)
{
    QProcess child;
    if (!startSaving(child, cwd, path, bigSave, round == 0 ? bigSave / 2 : 0))
        return false;
    if (round > 0) {
        std::this_thread::sleep_for(std::chrono::milliseconds(took * (round - 1) / (killRounds - 3)));
        child.kill();
    }
    return child.waitForFinished(60'000);
}

#ifdef Q_OS_UNIX
const char *const aclName = "system.posix_acl_access";

QByteArray attribute(const QString &path, const char *name)
{
    char value[256];
    const ssize_t n = ::getxattr(native(path).constData(), name, value, sizeof value);
    return n < 0 ? QByteArray("<none>") : QByteArray(value, static_cast<qsizetype>(n));
}

// A POSIX ACL, in the file system's own format, that names user 1234 beside
// the entries the mode gives.
QByteArray aclFor(int mode)
{
    QByteArray acl;
    const auto put = [&acl](quint32 value, int bytes) {
        for (int i = 0; i < bytes; ++i)
            acl += static_cast<char>((value >> (8 * i)) & 0xFF);
    };
    put(2, 4); // version
    const quint32 none = 0xFFFFFFFF;
    const quint32 entries[][3] = {{0x01, quint32(mode >> 6) & 7, none}, // owner
                                  {0x02, 4, 1234},                      // user 1234: read
                                  {0x04, quint32(mode >> 3) & 7, none}, // group
                                  {0x10, quint32(mode >> 3) & 7, none}, // mask
                                  {0x20, quint32(mode) & 7, none}};     // others
    for (const auto &e : entries) {
        put(e[0], 2);
        put(e[1], 2);
        put(e[2], 4);
    }
    return acl;
}
#endif

// Saves "new\r\n" to `path` through a named temporary file (the way a
// crash leaves one behind), and lists the file's folder while the bytes go in.
WriteResult saveListingFolderMidWrite(const QString &path, QStringList &during)
{
    WriteOptions named;
    named.unnamedTemporary = false;
    return writeFile(
        path,
        [&](const ByteSink &sink) {
            during = listing(QFileInfo(path).path());
            return sink("new\r\n");
        },
        named);
}

// What unfinished saves leave in the program's own folder.
QStringList stateFiles() { return listing(stateDirectory()); }

// A save killed just as it made its record leaves it empty, the file not yet
// touched. It may as well be a save just starting in another instance, so
// the repair leaves it alone; a minute later a start clears it.
void expectKilledSaveRecordEmptyAndClearedOnceOld(const QString &stateHome)
{
    const QStringList left = stateFiles();
    if (left.isEmpty())
        return;
    QCOMPARE(left.size(), 1);
    QFile record(stateDirectory() + u'/' + left[0]);
    QVERIFY2(left[0].startsWith(u"save-") && record.size() == 0, qPrintable(left[0]));
    QVERIFY(
        record.open(QIODevice::ReadWrite) &&
        record.setFileTime(QDateTime::currentDateTime().addSecs(-120), QFileDevice::FileModificationTime));
    record.close();
    WindowFixture later;
    later.open(stateHome);
    QVERIFY(later.platform.boxes.isEmpty());
    QCOMPARE(stateFiles(), QStringList());
}

// A folder for the save child: its settings file, and the document.
struct Workspace {
    Workspace()
    {
#ifdef Q_OS_UNIX
        ::chmod(native(dir.path()).constData(), 0755);
#endif
        writeFile(dir.filePath(QStringLiteral("kestoide.ini")), "1\r\n");
    }
    QString path(const QString &name) const { return dir.filePath(name); }
    QStringList strayFiles() const
    {
        QStringList names = listing(dir.path());
        names.removeAll(QStringLiteral("kestoide.ini"));
        names.removeAll(QStringLiteral("prog.asm"));
        names.removeAll(QStringLiteral("other name.asm"));
        return names;
    }
    QTemporaryDir dir;
};

} // namespace

class TestFileWriter : public QObject {
    Q_OBJECT
private slots:
#ifdef Q_OS_UNIX // owners, modes, extended attributes, ACLs and user nobody
    void eachSaveKeepsTheFileAsItWas_data();
    void eachSaveKeepsTheFileAsItWas();
#endif
    void strayNamedTemporaryIsRemovedByTheNextSave();
#ifdef Q_OS_UNIX
    void linkToANameThatIsNoTextSavesThatFile();
#endif
#ifdef Q_OS_WIN
    void windowsSaveKeepsAttributesLinksAndLongPaths_data();
    void windowsSaveKeepsAttributesLinksAndLongPaths();
#endif
    void longNamesSaveWithTemporaryAndBackupNamesInBounds_data();
    void longNamesSaveWithTemporaryAndBackupNamesInBounds();
    void changeMadeByAnotherProgramIsNeverTakenForTheSavesOwn_data();
    void changeMadeByAnotherProgramIsNeverTakenForTheSavesOwn();
    void everyDurableWriteSyncsBeforeAndAfterItNames_data();
    void everyDurableWriteSyncsBeforeAndAfterItNames();
    void killedSaveLeavesOldOrNewWhole_data();
    void killedSaveLeavesOldOrNewWhole();
#ifdef Q_OS_UNIX // the save is cut short by a limit of the process's file size
    void repairLeavesAFileChangedSinceAndTellsWhereTheOldContentIs();
#endif

private:
    OwnStateHome m_stateHome; // the save children inherit it
};

#ifdef Q_OS_UNIX
void TestFileWriter::eachSaveKeepsTheFileAsItWas_data()
{
    QTest::addColumn<uint>("user");  // who saves
    QTest::addColumn<uint>("owner"); // of the file, user and group
    QTest::addColumn<int>("mode");
    QTest::addColumn<uint>("folderOwner");
    QTest::addColumn<int>("folderMode");
    QTest::addColumn<int>("links");
    QTest::addColumn<bool>("symlink"); // the document is a symbolic link to the file
    QTest::addColumn<bool>("inPlace"); // the file keeps its inode
    const uint root = 0, nobody = 65534, other = 1234;
    // clang-format off
    QTest::newRow("root: own file, set-group-ID") << root << root << 02664 << root << 0755 << 1 << false << false;
    QTest::newRow("root: another user's set-user-ID file") << root << other << 04750 << root << 0755 << 1 << false << false;
    QTest::newRow("root: two hard links") << root << other << 0640 << root << 0755 << 2 << false << true;
    QTest::newRow("root: through a symbolic link") << root << other << 0600 << root << 0755 << 1 << true << false;
    QTest::newRow("nobody: own file") << nobody << nobody << 0640 << nobody << 0755 << 1 << false << false;
    QTest::newRow("nobody: root's file it may write") << nobody << root << 0666 << nobody << 0755 << 1 << false << true;
    QTest::newRow("nobody: folder it may not write") << nobody << nobody << 0644 << root << 0755 << 1 << false << true;
    QTest::newRow("nobody: two hard links") << nobody << nobody << 0600 << nobody << 0700 << 2 << false << true;
    // clang-format on
}

void TestFileWriter::eachSaveKeepsTheFileAsItWas()
{
    QFETCH(uint, user);
    QFETCH(uint, owner);
    QFETCH(int, mode);
    QFETCH(uint, folderOwner);
    QFETCH(int, folderMode);
    QFETCH(int, links);
    QFETCH(bool, symlink);
    QFETCH(bool, inPlace);
    if (::geteuid() != 0)
        QSKIP("gives files to other users: needs root");
    Workspace w;
    const QString folder = w.path(QStringLiteral("work"));
    const QString file = folder + QStringLiteral("/prog.asm");
    QVERIFY(QDir().mkdir(folder));
    QVERIFY(writeFile(file, oldBytes));
    QCOMPARE(::chown(native(file).constData(), owner, owner), 0);
    QCOMPARE(::chmod(native(file).constData(), static_cast<mode_t>(mode)), 0);
    const bool attributes = ::setxattr(native(file).constData(), "user.kesto", "keep me", 7, 0) == 0;
    const QByteArray acl = aclFor(mode);
    const bool acls = ::setxattr(native(file).constData(), aclName, acl.constData(),
                                 static_cast<size_t>(acl.size()), 0) == 0;
    const QString second = folder + QStringLiteral("/second name.asm");
    if (links == 2)
        QCOMPARE(::link(native(file).constData(), native(second).constData()), 0);
    QString document = file;
    if (symlink) {
        document = folder + QStringLiteral("/link.asm");
        QVERIFY(QFile::link(QStringLiteral("prog.asm"), document));
    }
    QCOMPARE(::chown(native(folder).constData(), folderOwner, folderOwner), 0);
    QCOMPARE(::chmod(native(folder).constData(), static_cast<mode_t>(folderMode)), 0);
    QTemporaryDir stateHome;
    QCOMPARE(::chown(native(stateHome.path()).constData(), user, user), 0);
    QProcessEnvironment env;
    env.insert(QStringLiteral("XDG_STATE_HOME"), stateHome.path());
    struct stat before {};
    QCOMPARE(::stat(native(file).constData(), &before), 0);
    const QStringList names = listing(folder);
    // Held open, the old file keeps its inode number from a new file's use.
    QFile held(file);
    QVERIFY(held.open(QIODevice::ReadOnly));

    // Two saves: after the first, the file is the document's own again and
    // the second has nothing to ask.
    const QStringList args{QStringLiteral("--save"), document, QStringLiteral("3000"), QStringLiteral("2")};
    const NobodyRun run = runSaveChild(user, args, w.dir.path(), env);
    if (!run.skipReason.isEmpty())
        QSKIP(qPrintable(run.skipReason));
    QVERIFY2(run.finished && run.exitCode == 0, qPrintable(run.output));

    QCOMPARE(readAll(file), newBytes(3000));
    struct stat after {};
    QCOMPARE(::stat(native(file).constData(), &after), 0);
    QCOMPARE(after.st_mode, before.st_mode);
    QCOMPARE(after.st_uid, before.st_uid);
    QCOMPARE(after.st_gid, before.st_gid);
    QCOMPARE(after.st_nlink, before.st_nlink);
    QCOMPARE(after.st_ino == before.st_ino, inPlace);
    if (attributes)
        QCOMPARE(attribute(file, "user.kesto"), QByteArray("keep me"));
    if (acls)
        QCOMPARE(attribute(file, aclName), acl);
    if (links == 2)
        QCOMPARE(readAll(second), newBytes(3000));
    if (symlink)
        QCOMPARE(QFileInfo(document).symLinkTarget(), file);
    QCOMPARE(listing(folder), names); // no temporary file, no backup
    QCOMPARE(listing(stateHome.filePath(QStringLiteral("kestoide"))), QStringList());
    if (!attributes || !acls)
        QSKIP(
            "the temporary folder's file system has no user extended attributes or no ACLs: the rest holds");
}
#endif

void TestFileWriter::strayNamedTemporaryIsRemovedByTheNextSave()
{
    // Where the file system has no unnamed temporary files, a killed save
    // leaves a named one; the next save of that file removes it, but not the
    // one of a save still running in another instance.
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("prog.asm"));
    const QString stray = dir.filePath(QStringLiteral(".prog.asm.kestoide-tmp-abcd1234"));
    const QString running = dir.filePath(QStringLiteral(".prog.asm.kestoide-tmp-efgh5678"));
    const QString otherFiles = dir.filePath(QStringLiteral(".other.asm.kestoide-tmp-abcd1234"));
    for (const QString &p : {path, stray, running, otherFiles})
        QVERIFY(writeFile(p, oldBytes));
#ifdef Q_OS_UNIX
    const int held = ::open(native(running).constData(), O_RDONLY | O_CLOEXEC);
    QVERIFY(held >= 0 && ::flock(held, LOCK_EX) == 0);
#else
    // A running save keeps its file open, without leave to delete it.
    QFile held(running);
    QVERIFY(held.open(QIODevice::ReadOnly));
#endif

    QStringList during;
    const WriteResult r = saveListingFolderMidWrite(path, during);
#ifdef Q_OS_UNIX
    ::close(held);
#else
    held.close();
#endif
    QCOMPARE(r.status, WriteStatus::Written);
    QCOMPARE(r.way, WriteWay::Replace);
    QCOMPARE(readAll(path), QByteArray("new\r\n"));
    // While it ran, its own temporary file was there, named after the target.
    for (const QString &name : {QStringLiteral("prog.asm"), QStringLiteral(".prog.asm.kestoide-tmp-efgh5678"),
                                QStringLiteral(".other.asm.kestoide-tmp-abcd1234")})
        QVERIFY(during.removeOne(name));
    QCOMPARE(during.size(), 1);
    QVERIFY(during[0].startsWith(u".prog.asm.kestoide-tmp-"));
    QCOMPARE(listing(dir.path()),
             QStringList({QStringLiteral(".other.asm.kestoide-tmp-abcd1234"),
                          QStringLiteral(".prog.asm.kestoide-tmp-efgh5678"), QStringLiteral("prog.asm")}));
}

#ifdef Q_OS_UNIX
void TestFileWriter::linkToANameThatIsNoTextSavesThatFile()
{
    // A name in Latin-2 bytes, which UTF-8 cannot read: the link leads to it,
    // and the save must reach that file, not one named after its text.
    QTemporaryDir dir;
    const QByteArray name = "za\xbf\xf3\xb3\xe6.asm";
    const QByteArray target = native(dir.path()) + '/' + name;
    const int fd = ::open(target.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    QVERIFY(fd >= 0);
    const bool made = ::write(fd, oldBytes.constData(), std::size_t(oldBytes.size())) == oldBytes.size();
    ::close(fd);
    QVERIFY(made);
    const QString link = dir.filePath(u"prog.asm"_s);
    QCOMPARE(::symlink(name.constData(), native(link).constData()), 0);

    QCOMPARE(writeFile(link, [](const ByteSink &sink) { return sink("new"); }).status, WriteStatus::Written);
    QFile saved;
    QVERIFY(saved.open(::open(target.constData(), O_RDONLY | O_CLOEXEC), QIODevice::ReadOnly,
                       QFileDevice::AutoCloseHandle));
    QCOMPARE(saved.readAll(), QByteArray("new"));
    QVERIFY(QFileInfo(link).isSymLink());
    // Nothing beside them: Qt cannot list a name that is no text.
    const auto left = std::distance(std::filesystem::directory_iterator(native(dir.path()).constData()),
                                    std::filesystem::directory_iterator());
    ::unlink(target.constData()); // nor remove it
    QCOMPARE(left, 2);
}
#endif

#ifdef Q_OS_WIN
void TestFileWriter::windowsSaveKeepsAttributesLinksAndLongPaths_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<uint>("attributes");
    QTest::addColumn<int>("links");
    QTest::addColumn<bool>("heldOpen"); // by a program that lets others read and write, not delete
    QTest::addColumn<WriteWay>("way");
    const QString prog = QStringLiteral("prog.asm");
    const uint hidden = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;
    QTest::newRow("hidden, system") << prog << hidden << 1 << false << WriteWay::Replace;
    QTest::newRow("two hard links") << prog << 0u << 2 << false << WriteWay::InPlace;
    QTest::newRow("held open, no leave to replace") << prog << hidden << 1 << true << WriteWay::InPlace;
    const QString deep = QString(100, u'k') + u'/' + QString(100, u'e') + u'/' + QString(100, u's') + u'/';
    QTest::newRow("path past 259 characters") << deep + prog << hidden << 1 << false << WriteWay::Replace;
    QTest::newRow("path past 259 characters, in place")
        << deep + prog << 0u << 2 << false << WriteWay::InPlace;
}

void TestFileWriter::windowsSaveKeepsAttributesLinksAndLongPaths()
{
    QFETCH(QString, name);
    QFETCH(uint, attributes);
    QFETCH(int, links);
    QFETCH(bool, heldOpen);
    QFETCH(WriteWay, way);
    QTemporaryDir dir;
    const QString path = dir.filePath(name);
    const QString folder = QFileInfo(path).path();
    QVERIFY(QDir().mkpath(folder));
    QVERIFY(writeFile(path, oldBytes));
    const std::wstring longForm = L"\\\\?\\" + QDir::toNativeSeparators(path).toStdWString();
    if (attributes != 0)
        QVERIFY(SetFileAttributesW(longForm.c_str(), attributes));
    const QString second = folder + QStringLiteral("/second name.asm");
    if (links == 2)
        QVERIFY(hardLink(path, second));
    const HANDLE held = heldOpen
                            ? CreateFileW(longForm.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                          nullptr, OPEN_EXISTING, 0, nullptr)
                            : INVALID_HANDLE_VALUE;
    QCOMPARE(held != INVALID_HANDLE_VALUE, heldOpen);
    const QStringList names = listing(folder);

    const WriteResult r = writeFile(path, [](const ByteSink &sink) { return sink("new\r\n"); });
    if (held != INVALID_HANDLE_VALUE)
        CloseHandle(held);
    QCOMPARE(r.status, WriteStatus::Written);
    QCOMPARE(r.way, way);
    QVERIFY(identityOf(path) == r.written); // the next save has nothing to ask
    QCOMPARE(readAll(path), QByteArray("new\r\n"));
    if (links == 2)
        QCOMPARE(readAll(second), QByteArray("new\r\n"));
    const uint kept = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_READONLY;
    QCOMPARE(GetFileAttributesW(longForm.c_str()) & kept, attributes);
    QCOMPARE(listing(folder), names); // no temporary file, no backup
    QCOMPARE(stateFiles(), QStringList());
}
#endif

void TestFileWriter::longNamesSaveWithTemporaryAndBackupNamesInBounds_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("links"); // two take the in-place way, with its backup
    const QString asm_ = QStringLiteral(".asm");
#ifdef Q_OS_WIN
    // NTFS counts a name in UTF-16 units.
    for (const auto &[what, name] : {std::pair{"255 units ASCII", QString(251, u'a') + asm_},
                                     std::pair{"255 units Polish", QString(251, u'ą') + asm_}})
        for (const int links : {1, 2})
            QTest::addRow("%s, %d link(s)", what, links) << name << links;
    return;
#endif
    const struct {
        const char *what;
        QString name;
    } names[] = {{"240 bytes ASCII", QString(236, u'a') + asm_},
                 {"255 bytes ASCII", QString(251, u'a') + asm_},
                 {"240 bytes Polish", QString(118, u'ą') + asm_},
                 {"255 bytes Polish", QString(125, u'ą') + QStringLiteral("x") + asm_}};
    for (const auto &n : names) {
        QCOMPARE(native(n.name).size(), qsizetype(QByteArrayView(n.what).startsWith("240") ? 240 : 255));
        for (const int links : {1, 2})
            QTest::addRow("%s, %d link(s)", n.what, links) << n.name << links;
    }
}

void TestFileWriter::longNamesSaveWithTemporaryAndBackupNamesInBounds()
{
    QFETCH(QString, name);
    QFETCH(int, links);
#ifdef Q_OS_WIN
    if (underWine() && name.contains(u'ą'))
        QSKIP(
            "Wine keeps files on a Unix file system, which takes 255 bytes of a name, not 255 UTF-16 units");
    const auto nameSize = [](const QString &n) { return n.size(); };
#else
    const auto nameSize = [](const QString &n) { return native(n).size(); };
#endif
    QTemporaryDir dir;
    const QString path = dir.filePath(name);
    QVERIFY(writeFile(path, oldBytes));
    if (links == 2)
        QVERIFY(hardLink(path, dir.filePath(QStringLiteral("b.asm"))));
    const QStringList before = listing(dir.path());

    // What the folder holds while the new content goes in: the temporary
    // file, or (in place) the backup, named by the save.
    QStringList during;
    const WriteResult r = saveListingFolderMidWrite(path, during);
    QCOMPARE(r.status, WriteStatus::Written);
    QCOMPARE(r.way, links == 1 ? WriteWay::Replace : WriteWay::InPlace);
    QCOMPARE(readAll(path), QByteArray("new\r\n"));
    const QString mark = links == 1 ? QStringLiteral(".kestoide-tmp-") : QStringLiteral(".kestoide-backup-");
    QStringList made = during;
    for (const QString &old : before)
        made.removeAll(old);
    QCOMPARE(made.size(), 1);
    QVERIFY2(made[0].contains(mark) && nameSize(made[0]) <= 255, qPrintable(made[0]));
    QVERIFY(made[0].startsWith(links == 1 ? u'.' + name.left(10) : name.left(10)));
    QCOMPARE(listing(dir.path()), before); // cleaned up
}

void TestFileWriter::changeMadeByAnotherProgramIsNeverTakenForTheSavesOwn_data()
{
    QTest::addColumn<int>("links"); // two take the in-place way
    QTest::addColumn<int>("rival");
    for (const int links : {1, 2}) {
        QTest::addRow("%d link(s), alone", links) << links << 0;
        QTest::addRow("%d link(s), another program appends as it syncs", links) << links << 1;
        QTest::addRow("%d link(s), rewritten later, same size, old time back", links) << links << 2;
    }
}

void TestFileWriter::changeMadeByAnotherProgramIsNeverTakenForTheSavesOwn()
{
    QFETCH(int, links);
    QFETCH(int, rival);
    WriteOptions options;
    options.unnamedTemporary = false;
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("prog.asm"));
    QVERIFY(writeFile(path, oldBytes));
    if (links == 2)
        QVERIFY(hardLink(path, path + u'2'));
    // Another process appends to the file just written: before the rename, the temporary one.
    options.afterLastByte = [&] {
#ifdef Q_OS_UNIX
        if (rival == 1)
            QProcess::execute(QStringLiteral("sh"),
                              {QStringLiteral("-c"),
                               QStringLiteral("cd \"$0\"; f=$(ls -A | grep -m1 "
                                              "kestoide-tmp || echo prog.asm); printf theirs >>$f"),
                               dir.path()});
#else // no shell at hand: the append is this process's own, as the file sees it
        const QStringList temporary =
            QDir(dir.path())
                .entryList({QStringLiteral("*kestoide-tmp*")}, QDir::Files | QDir::Hidden | QDir::System);
        QFile theirs(dir.filePath(temporary.isEmpty() ? QStringLiteral("prog.asm") : temporary[0]));
        if (rival == 1)
            QVERIFY(theirs.open(QIODevice::Append) && theirs.write("theirs") == 6);
#endif
    };
    const WriteResult r = writeFile(
        path, [](const ByteSink &sink) { return sink("new\r\n"); }, options);
    QCOMPARE(r.way, links == 1 ? WriteWay::Replace : WriteWay::InPlace);
#ifdef Q_OS_UNIX
    struct stat saved {};
    QCOMPARE(::stat(native(path).constData(), &saved), 0);
    if (rival == 2) { // cp, then touch -d, a clock tick later: only the change time tells
        QTest::qWait(50);
        QVERIFY(writeFile(path, "old\r\n"));
        const struct timespec times[2] = {saved.st_atim, saved.st_mtim};
        QCOMPARE(::utimensat(AT_FDCWD, native(path).constData(), times, 0), 0);
    }
#else
    const std::wstring name = QDir::toNativeSeparators(path).toStdWString();
    FILETIME written{};
    const HANDLE h = CreateFileW(name.c_str(), FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES,
                                 FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
    QVERIFY(h != INVALID_HANDLE_VALUE && GetFileTime(h, nullptr, nullptr, &written));
    if (rival == 2) { // as on Unix: the same size, and the old time put back
        QTest::qWait(50);
        QVERIFY(writeFile(path, "old\r\n"));
        QVERIFY(SetFileTime(h, nullptr, nullptr, &written));
    }
    CloseHandle(h);
#endif
    // The next save asks exactly when the file is not what this one wrote.
    QCOMPARE(identityOf(path) == r.written, rival == 0);
}

void TestFileWriter::everyDurableWriteSyncsBeforeAndAfterItNames_data()
{
    // A source file with this many names (0: not there yet), or a recovery copy.
    QTest::addColumn<int>("links");
    QTest::addColumn<QString>("steps");
#ifdef Q_OS_WIN // NTFS journals the names: each rename asks to be written through instead
    QTest::newRow("save of a new file") << 0 << u"sync new|rename new -> target, written through"_s;
    QTest::newRow("save over a file") << 1 << u"sync new|replace new -> target|sync target"_s;
    QTest::newRow("save in place") << 2 << u"sync record|sync record|sync backup|sync record|sync target"_s;
    QTest::newRow("recovery copy") << -1 << u"sync new|rename new -> target, written through"_s;
#else
    QTest::newRow("save of a new file") << 0 << u"sync new|rename new -> target|sync folder"_s;
    QTest::newRow("save over a file") << 1 << u"sync new|rename new -> target|sync folder"_s;
    QTest::newRow("save in place") << 2
                                   << u"sync record|sync state folder|sync record|sync backup|sync folder|"
                                      "sync record|sync target"_s;
    QTest::newRow("recovery copy") << -1 << u"sync new|rename new -> target|sync folder"_s;
#endif
}

void TestFileWriter::everyDurableWriteSyncsBeforeAndAfterItNames()
{
    QFETCH(int, links);
    QTemporaryDir dir;
    const QString target = dir.filePath(links < 0 ? u"0123456789abcdef.copy"_s : u"prog.asm"_s);
    QVERIFY(links < 1 || writeFile(target, oldBytes));
    QVERIFY(links < 2 || hardLink(target, dir.filePath(u"b.asm"_s)));
    // Each step with the roles of its files; "new" is a temporary, or a file not named yet.
    const auto role = [&target](const QString &path) {
        const QFileInfo file(path);
        return path.isEmpty() || file.fileName().contains(u"-tmp-") || path.endsWith(u".tmp") ? u"new"_s
               : file == QFileInfo(target)                                                    ? u"target"_s
               : file == QFileInfo(QFileInfo(target).path())                                  ? u"folder"_s
               : file == QFileInfo(stateDirectory())   ? u"state folder"_s
               : file.fileName().contains(u"-backup-") ? u"backup"_s
                                                       : u"record"_s;
    };
    QStringList steps;
    fileio::watchDurableSteps([&](const fileio::DurableStep &s) {
        static const char *const verbs[] = {"sync ", "sync ", "rename ", "replace "};
        steps << QLatin1String(verbs[s.kind]) + role(s.path) +
                     (s.to.isEmpty() ? u""_s : u" -> "_s + role(s.to)) +
                     (s.writeThrough ? u", written through"_s : u""_s);
        return true;
    });
    const bool written = links < 0
                             ? recovery::writeCopyFile(target, target + u".tmp"_s, recovery::Copy{})
                             : writeFile(target, [](const ByteSink &sink) { return sink("new"); }).status ==
                                   WriteStatus::Written;
    fileio::watchDurableSteps({});
    QVERIFY(written);
    QTEST(steps.join(u'|'), "steps");
}

void TestFileWriter::killedSaveLeavesOldOrNewWhole_data()
{
    QTest::addColumn<bool>("inPlace");
    QTest::newRow("replace") << false;
    // A second name makes every save rewrite the file in place.
    QTest::newRow("in place, put right at the next start") << true;
}

void TestFileWriter::killedSaveLeavesOldOrNewWhole()
{
    QFETCH(bool, inPlace);
    Workspace w;
    const QString path = w.path(QStringLiteral("prog.asm"));
    const QString other = w.path(QStringLiteral("other name.asm"));
    const QByteArray saved = newBytes(bigSave);
    QVERIFY(writeFile(path, oldBytes));
    QVERIFY(!inPlace || hardLink(path, other));
    const qint64 took = timeWholeSave(w.dir.path(), path);
    QVERIFY(took >= 0);
    QCOMPARE(readAll(inPlace ? other : path), saved);

    int old = 0;
    int cutShort = 0;
    for (int round = 0; round < killRounds; ++round) {
        QFile reset(path); // in place, so that both names keep the file
        QVERIFY(reset.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
                reset.write(oldBytes) == oldBytes.size());
        reset.close();
        QVERIFY(killSave(w.dir.path(), path, took, round));
        const QByteArray now = readAll(path);
        const QString where = QStringLiteral("round %1").arg(round);
        QVERIFY2(now == oldBytes || now == saved || (inPlace && saved.startsWith(now)), qPrintable(where));
        old += now == oldBytes ? 1 : 0;
        if (!inPlace) {
            // Only a kill between naming the unnamed file and renaming it leaves one behind.
            const QStringList left = w.strayFiles();
            QVERIFY2(left.isEmpty() || (left.size() == 1 && left[0].startsWith(u".prog.asm.kestoide-tmp-")),
                     qPrintable(left.join(u' ')));
            continue;
        }
        const bool putBack = now != oldBytes && now != saved;
        cutShort += putBack ? 1 : 0;

        // The next start: old or new, whole, under both names; nothing left
        // over. A rewrite cut short is put back, and the user told so.
        WindowFixture start;
        start.platform.answer(Button::Ok);
        start.open(m_stateHome.path());
        QCOMPARE(start.platform.boxes.size(), putBack ? 1 : 0);
        const QString told = QStringLiteral("Ostatni zapis pliku \"%1\" nie został dokończony; przywrócono "
                                            "poprzednią treść.");
        QVERIFY(!putBack || start.platform.boxes[0].text == told.arg(QDir::toNativeSeparators(path)));
        const QByteArray repaired = readAll(path);
        QVERIFY2(repaired == oldBytes || repaired == saved, qPrintable(where));
        QCOMPARE(readAll(other), repaired);
        QCOMPARE(w.strayFiles(), QStringList());
        expectKilledSaveRecordEmptyAndClearedOnceOld(m_stateHome.path());
    }
    if (!inPlace) {
        QVERIFY(old >= 1);
        qInfo("a save took %lld ms; %d of %d killed saves left the old file", took, old, killRounds);
        return;
    }
#ifdef Q_OS_UNIX // the first round is cut short by a limit of the file size
    QVERIFY(cutShort >= 1);
#endif
    qInfo("an in-place save took %lld ms; %d of %d killed saves were cut short", took, cutShort, killRounds);
}

#ifdef Q_OS_UNIX
void TestFileWriter::repairLeavesAFileChangedSinceAndTellsWhereTheOldContentIs()
{
    Workspace w;
    const QString path = w.path(QStringLiteral("prog.asm"));
    QVERIFY(writeFile(path, oldBytes));
    QCOMPARE(::link(native(path).constData(), native(w.path(QStringLiteral("other name.asm"))).constData()),
             0);
    QProcess child;
    QVERIFY(startSaving(child, w.dir.path(), path, 200'000, 100'000));
    QVERIFY(child.waitForFinished(60'000));
    QCOMPARE(child.exitStatus(), QProcess::CrashExit);
    QCOMPARE(QFileInfo(path).size(), qint64(100'000));
    const QStringList left = w.strayFiles();
    QCOMPARE(left.size(), 1);
    const QString backup = w.path(left[0]);
    QVERIFY(left[0].startsWith(u"prog.asm.kestoide-backup-"));
    // Someone else writes the file before the program starts again.
    QVERIFY(writeFile(path, "theirs\r\n"));

    WindowFixture start;
    start.open(m_stateHome.path());
    QCOMPARE(start.platform.boxes.size(), 1);
    expectBox(start.platform.boxes[0],
              QStringLiteral("Zapis pliku ") + path +
                  QStringLiteral(" został przerwany, a plik zmienił się od tego czasu, więc pozostał "
                                 "bez zmian. Jego treść sprzed przerwanego zapisu jest w pliku ") +
                  backup + u'.',
              Buttons::Ok, Icon::Exclamation, QStringLiteral("KESTOIDE"));
    QCOMPARE(readAll(path), QByteArray("theirs\r\n"));
    QCOMPARE(readAll(backup), oldBytes);
    QCOMPARE(stateFiles(), QStringList());
    // Told once: the next start has nothing to say.
    WindowFixture again;
    again.open(m_stateHome.path());
    QVERIFY(again.platform.boxes.isEmpty());
    QVERIFY(QFile::remove(backup));
}
#endif

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    const QStringList args = QCoreApplication::arguments();
    if (args.size() >= 5 && args[1] == u"--save")
        return saveChild(args[2], args[3].toLongLong(), args[4].toInt(), args.value(5).toLongLong());
    app.setAttribute(Qt::AA_Use96Dpi, true);
    TestFileWriter test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "tst_filewriter.moc"
