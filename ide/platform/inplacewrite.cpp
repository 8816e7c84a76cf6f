#include "inplacewrite.h"

#include "statedir.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QSysInfo>

#include <algorithm>
#include <memory>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#endif
#ifdef Q_OS_WIN
#include <io.h>
#include <qt_windows.h> // windows.h without the min and max macros
#endif

namespace kesto::writer {

namespace {

// How much is read and written at a time.
constexpr qint64 bufferBytes = qint64(1) << 20;
// A content is hashed in leaves of 4 KiB; the record keeps the hashes of
// pieces of a power of two leaves, at most maxPieces of them, and the
// content's first piece as it is. A file whose whole pieces and head match
// the new content's, and which is no longer, was cut short by an interrupted
// rewrite; any other difference is someone else's change.
constexpr qint64 leafBytes = 4096;
constexpr qint64 maxPieces = 4096;
constexpr qint64 maxHeadBytes = qint64(256) << 10;
const QString recordPrefix = QStringLiteral("save-");
const QString recordSuffix = QStringLiteral(".record");
const QByteArray recordHeader = "kestoide-save 1";
const QString backupMark = QStringLiteral(".kestoide-backup-");
// A record written on another computer (a home folder shared over the
// network) may belong to a save still running there, whose lock this one
// need not see; a save takes seconds, so an hour-old one has ended.
constexpr qint64 foreignRecordAgeSeconds = 3600;

class ContentHashes {
public:
    void add(std::string_view bytes)
    {
        if (m_head.size() < maxHeadBytes)
            m_head.append(bytes.data(), static_cast<qsizetype>(std::min(static_cast<qint64>(bytes.size()),
                                                                        maxHeadBytes - m_head.size())));
        while (!bytes.empty()) {
            const qint64 n = std::min(static_cast<qint64>(bytes.size()), leafBytes - m_inLeaf);
            m_hash.addData(QByteArrayView(bytes.data(), static_cast<qsizetype>(n)));
            m_inLeaf += n;
            m_size += n;
            bytes.remove_prefix(static_cast<std::size_t>(n));
            if (m_inLeaf == leafBytes)
                closeLeaf();
        }
    }
    void finish()
    {
        if (m_inLeaf > 0)
            closeLeaf();
    }
    qint64 size() const { return m_size; }
    // The first bytes, up to maxHeadBytes.
    const QByteArray &head() const { return m_head; }
    // Leaves per piece for a content of this one's size.
    qint64 leavesPerPiece() const
    {
        qint64 leaves = 1;
        while (m_size > maxPieces * leaves * leafBytes)
            leaves *= 2;
        return leaves;
    }
    // The pieces' hashes in hex; the last piece may be short.
    QList<QByteArray> pieces(qint64 leavesPerPiece) const
    {
        QList<QByteArray> hashes;
        const qsizetype step = static_cast<qsizetype>(leavesPerPiece) * leafHash;
        for (qsizetype at = 0; at < m_leaves.size(); at += step)
            hashes.append(QCryptographicHash::hash(m_leaves.mid(at, step), QCryptographicHash::Sha1).toHex());
        return hashes;
    }
    QByteArray digest() const { return QCryptographicHash::hash(m_leaves, QCryptographicHash::Sha1).toHex(); }

private:
    static constexpr qsizetype leafHash = 20; // bytes of a SHA-1
    void closeLeaf()
    {
        m_leaves += m_hash.result();
        m_hash.reset();
        m_inLeaf = 0;
    }
    QCryptographicHash m_hash{QCryptographicHash::Sha1};
    QByteArray m_leaves; // the leaves' hashes, one after another
    QByteArray m_head;
    qint64 m_inLeaf = 0;
    qint64 m_size = 0;
};

// Reads `from` from its start to its end into `hashes` and, when given, `to`.
bool readWhole(QFileDevice &from, ContentHashes &hashes, QFileDevice *to = nullptr)
{
    if (!from.seek(0))
        return false;
    const auto buffer = std::make_unique_for_overwrite<char[]>(bufferBytes);
    for (;;) {
        const qint64 n = from.read(buffer.get(), bufferBytes);
        if (n <= 0) {
            hashes.finish();
            return n == 0;
        }
        const std::string_view piece(buffer.get(), static_cast<std::size_t>(n));
        hashes.add(piece);
        if (to && !writeOut(*to, piece))
            return false;
    }
}

bool putBack(QFile &backup, QFile &target)
{
    ContentHashes unused;
    return target.resize(0) && target.seek(0) && readWhole(backup, unused, &target) && syncFile(target);
}

FileIdentity identityOfOpen(const QFile &file)
{
    const FileIdentity id = identityOfDescriptor(file.handle());
    return id.exists ? id : identityOf(file.fileName());
}

bool lockFile(QFile &file)
{
#ifdef Q_OS_WIN
    OVERLAPPED whole{};
    return LockFileEx(reinterpret_cast<HANDLE>(_get_osfhandle(file.handle())),
                      LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, MAXDWORD, MAXDWORD, &whole);
#else
    return ::flock(file.handle(), LOCK_EX | LOCK_NB) == 0;
#endif
}

QByteArray thisHost() { return QSysInfo::machineHostName().toUtf8(); }
QByteArray pathField(const QString &path) { return QFile::encodeName(path).toPercentEncoding(); }
QString pathFrom(const QByteArray &field)
{
    return QFile::decodeName(QByteArray::fromPercentEncoding(field));
}

// What an in-place save has done so far, written down before each step that
// a crash could leave half-done.
struct Record {
    QByteArray host;
    bool quiet = false;
    QString target;
    quint64 device = 0, inode = 0;
    qint64 newSize = -1;
    qint64 leavesPerPiece = 1;
    QByteArray newHead;
    QList<QByteArray> newPieces;
    QString backup; // the last one named: an earlier name could not be made
    qint64 oldSize = -1;
    QByteArray oldDigest;
    // The backup is whole and synced: only now may the target have changed.
    bool complete = false;
};

Record parseRecord(const QByteArray &text)
{
    Record r;
    const QList<QByteArray> lines = text.split('\n');
    if (lines.first() != recordHeader)
        return r;
    for (const QByteArray &line : lines) {
        const QList<QByteArray> f = line.split(' ');
        const QByteArray &key = f.first();
        if (key == "host" && f.size() == 2) {
            r.host = QByteArray::fromPercentEncoding(f[1]);
        } else if (key == "quiet" && f.size() == 2) {
            r.quiet = f[1] == "1";
        } else if (key == "target" && f.size() == 2) {
            r.target = pathFrom(f[1]);
        } else if (key == "file" && f.size() == 3) {
            r.device = f[1].toULongLong();
            r.inode = f[2].toULongLong();
        } else if (key == "new" && f.size() == 3) {
            r.newSize = f[1].toLongLong();
            r.leavesPerPiece = std::max(f[2].toLongLong(), qint64(1));
        } else if (key == "head" && f.size() == 2) {
            r.newHead = QByteArray::fromBase64(f[1]);
        } else if (key == "pieces") {
            r.newPieces = f.mid(1);
        } else if (key == "backup" && f.size() == 2) {
            r.backup = pathFrom(f[1]);
        } else if (key == "old" && f.size() == 3) {
            r.oldSize = f[1].toLongLong();
            r.oldDigest = f[2];
        } else if (key == "end") {
            r.complete = !r.target.isEmpty() && !r.backup.isEmpty() && r.newSize >= 0 && r.oldSize >= 0;
        }
    }
    return r;
}

// The record of one running save, in the program's own folder. It stays
// locked while the save runs, so that another instance's repair leaves it
// alone; unless kept, it goes when the save is over.
class RecordFile {
public:
    RecordFile() = default;
    RecordFile(const RecordFile &) = delete;
    RecordFile &operator=(const RecordFile &) = delete;
    ~RecordFile()
    {
        if (!m_keep)
            m_file.remove();
    }
    bool create(const QString &folder)
    {
        for (int attempt = 0; attempt < 8 && !m_file.isOpen(); ++attempt) {
            m_file.setFileName(folder + u'/' + recordPrefix + uniqueSuffix() + recordSuffix);
            if (!m_file.open(QIODevice::WriteOnly | QIODevice::NewOnly | QIODevice::Unbuffered,
                             QFileDevice::ReadOwner | QFileDevice::WriteOwner))
                m_file.setFileName(QString()); // not ours: never removed
        }
        return m_file.isOpen() && lockFile(m_file);
    }
    // Each addition is durable before the save goes on.
    bool append(const QByteArray &lines)
    {
        return writeOut(m_file, {lines.constData(), static_cast<std::size_t>(lines.size())}) &&
               syncFile(m_file);
    }
    void keep()
    {
        m_keep = true;
        m_file.close();
    }

private:
    QFile m_file;
    bool m_keep = false;
};

// Beside the file where the folder allows, so that it is found there and
// stays on the same disk; else in the program's own folder. The record names
// it before it exists, so that a crash leaves no backup the repair does not
// know of.
bool makeBackup(RecordFile &record, const QString &path, const QString &stateDir, QFile &backup)
{
    const QFileInfo info(path);
    // The name stays within the 255 bytes most file systems allow.
    const QString name = info.fileName().left(160) + backupMark;
    QStringList folders;
    if (QFileInfo(info.path()).isWritable())
        folders << info.path();
    folders << stateDir;
    for (const QString &folder : folders) {
        backup.setFileName(folder + u'/' + name + uniqueSuffix());
        if (!record.append("backup " + pathField(backup.fileName()) + '\n'))
            return false;
        if (backup.open(QIODevice::ReadWrite | QIODevice::NewOnly | QIODevice::Unbuffered,
                        QFileDevice::ReadOwner | QFileDevice::WriteOwner))
            return true;
    }
    return false;
}

#ifdef Q_OS_UNIX
// A user who is not root loses the set-user-ID and set-group-ID bits of a
// file on writing it; the owner may set them again.
struct KeptMode {
    explicit KeptMode(const QFile &file) : fd(file.handle())
    {
        struct stat st {};
        mode = ::fstat(fd, &st) == 0 ? (st.st_mode & 07777) : 0;
    }
    void restore() const
    {
        struct stat st {};
        if (mode != 0 && ::fstat(fd, &st) == 0 && (st.st_mode & 07777) != mode)
            ::fchmod(fd, mode);
    }
    int fd;
    mode_t mode;
};
#else
struct KeptMode {
    explicit KeptMode(const QFile &) {}
    void restore() const {}
};
#endif

QString shown(const QString &path) { return QDir::toNativeSeparators(path); }

struct Repair {
    bool done = true; // the record can go
    QString message;
};

Repair repairOne(const Record &r)
{
    if (!r.complete) {
        // Ended before the target was touched: only an unfinished backup to clear away.
        if (!r.backup.isEmpty())
            QFile::remove(r.backup);
        return {};
    }
    const auto tell = [&r](const QString &text) {
        return r.quiet ? QString() : text.arg(shown(r.target), shown(r.backup));
    };
    const auto changedSince = [&] {
        // Whatever is there now is someone's newer work: it stays, and so
        // does the old content, for the user to take back if they wish.
        if (!QFileInfo::exists(r.backup))
            return Repair{};
        if (r.quiet)
            QFile::remove(r.backup);
        return Repair{true,
                      tell(QStringLiteral("Zapis pliku %1 został przerwany, a plik zmienił się od tego "
                                          "czasu, więc pozostał bez zmian. Jego treść sprzed przerwanego "
                                          "zapisu jest w pliku %2."))};
    };
    const FileIdentity now = identityOf(r.target);
    if (!now.exists || now.device != r.device || now.inode != r.inode)
        return changedSince();

    Repair notRestored{false, tell(QStringLiteral("Zapis pliku %1 został przerwany, a jego poprzedniej "
                                                  "treści nie udało się przywrócić. Jest ona zachowana w "
                                                  "pliku %2."))};
    QFile target;
    ContentHashes held;
    if (!openExisting(target, r.target) || !readWhole(target, held))
        return notRestored;
    const qint64 size = held.size();
    const QList<QByteArray> pieces = held.pieces(r.leavesPerPiece);
    if ((size == r.newSize && pieces == r.newPieces) || (size == r.oldSize && held.digest() == r.oldDigest)) {
        QFile::remove(r.backup);
        return {};
    }
    const qsizetype whole = static_cast<qsizetype>(size / (r.leavesPerPiece * leafBytes));
    const qsizetype head = static_cast<qsizetype>(std::min<qint64>(size, r.newHead.size()));
    const bool cutShort = size <= r.newSize && whole <= r.newPieces.size() &&
                          held.head().left(head) == r.newHead.left(head) &&
                          std::equal(pieces.begin(), pieces.begin() + whole, r.newPieces.begin());
    if (!cutShort)
        return changedSince();

    QFile backup(r.backup);
    ContentHashes kept;
    if (!backup.open(QIODevice::ReadOnly | QIODevice::Unbuffered) || !readWhole(backup, kept) ||
        kept.size() != r.oldSize || kept.digest() != r.oldDigest)
        return {true,
                tell(QStringLiteral("Zapis pliku %1 został przerwany, a kopii jego poprzedniej treści (%2) "
                                    "nie udało się odczytać. Plik pozostał bez zmian."))};
    const KeptMode mode(target);
    const bool restored = putBack(backup, target);
    mode.restore();
    if (!restored)
        return notRestored;
    backup.remove();
    return {};
}

} // namespace

bool openExisting(QFile &file, const QString &path)
{
    file.setFileName(path);
#ifdef Q_OS_UNIX
    const QByteArray name = QFile::encodeName(path);
    if (name.isEmpty() || name.contains('\0'))
        return false;
    // O_NONBLOCK: a FIFO put in the file's place must not hang the window.
    const int fd = ::open(name.constData(), O_RDWR | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
        return false;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || ::fcntl(fd, F_SETFL, O_RDWR) != 0 ||
        !file.open(fd, QIODevice::ReadWrite | QIODevice::Unbuffered, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        return false;
    }
    return true;
#else
    return file.open(QIODevice::ReadWrite | QIODevice::ExistingOnly | QIODevice::Unbuffered);
#endif
}

WriteResult rewriteInPlace(QFile &target, const QString &path, const ByteSource &source,
                           const WriteOptions &options)
{
    WriteResult result;
    result.way = WriteWay::InPlace;
    // The new content is measured first: its hashes go into the record, and
    // the user may still cancel before anything is touched.
    ContentHashes fresh;
    if (!source([&fresh](std::string_view bytes) {
            fresh.add(bytes);
            return true;
        }))
        return result;
    fresh.finish();
    if (options.confirm && !options.confirm()) {
        result.status = WriteStatus::Cancelled;
        return result;
    }

    const QString stateDir = stateDirectory();
    RecordFile record;
    if (stateDir.isEmpty() || !record.create(stateDir))
        return result;
    const FileIdentity before = identityOfOpen(target);
    const qint64 leaves = fresh.leavesPerPiece();
    QByteArray head = recordHeader + "\nhost " + thisHost().toPercentEncoding() + "\nquiet " +
                      (options.quiet ? "1" : "0") + "\ntarget " + pathField(path) + "\nfile " +
                      QByteArray::number(before.device) + ' ' + QByteArray::number(before.inode) + "\nnew " +
                      QByteArray::number(fresh.size()) + ' ' + QByteArray::number(leaves) + "\nhead " +
                      fresh.head().left(static_cast<qsizetype>(leaves * leafBytes)).toBase64() + "\npieces";
    for (const QByteArray &piece : fresh.pieces(leaves))
        head += ' ' + piece;
    if (!record.append(head + '\n') || !syncFolder(stateDir))
        return result;

    QFile backup;
    if (!makeBackup(record, path, stateDir, backup))
        return result;
    ContentHashes old;
    const bool backedUp = readWhole(target, old, &backup) && syncFile(backup) &&
                          syncFolder(QFileInfo(backup.fileName()).path());
    if (!backedUp ||
        !record.append("old " + QByteArray::number(old.size()) + ' ' + old.digest() + "\nend\n")) {
        backup.remove();
        return result;
    }

    // Only now does the file itself change.
    const KeptMode mode(target);
    qint64 written = 0;
    const bool rewritten = target.resize(0) && target.seek(0) && source([&](std::string_view bytes) {
                               written += static_cast<qint64>(bytes.size());
                               return writeOut(target, bytes);
                           }) &&
                           written == fresh.size() && syncFile(target);
    if (rewritten) {
        mode.restore();
        result.status = WriteStatus::Written;
        result.written = identityOfOpen(target);
        backup.remove();
        return result;
    }
    const bool restored = putBack(backup, target);
    mode.restore();
    if (restored) {
        backup.remove();
    } else {
        result.backupKept = QDir::toNativeSeparators(backup.fileName());
        record.keep(); // the next start tries again
    }
    return result;
}

bool writeOut(QFileDevice &file, std::string_view bytes)
{
    const qint64 offset = file.pos();
    const auto size = static_cast<qint64>(bytes.size());
    if (file.write(bytes.data(), size) != size)
        return false;
    startWriteback(file.handle(), offset, size);
    return true;
}

void startWriteback([[maybe_unused]] int fd, [[maybe_unused]] qint64 offset, [[maybe_unused]] qint64 size)
{
#ifdef Q_OS_LINUX
    // Only large pieces: for a few bytes the call costs more than it saves.
    if (size >= bufferBytes / 2)
        ::sync_file_range(fd, offset, size, SYNC_FILE_RANGE_WRITE);
#endif
}

bool syncFile(QFileDevice &file)
{
    if (!file.flush())
        return false;
#ifdef Q_OS_WIN
    return FlushFileBuffers(reinterpret_cast<HANDLE>(_get_osfhandle(file.handle())));
#else
    return ::fsync(file.handle()) == 0;
#endif
}

bool syncFolder([[maybe_unused]] const QString &folder)
{
#ifdef Q_OS_UNIX
    const int fd = ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    // A folder the user may write but not read cannot be opened to sync it:
    // nothing more can be done there.
    if (fd < 0)
        return errno == EACCES;
    const bool synced = ::fsync(fd) == 0 || errno == EINVAL;
    ::close(fd);
    return synced;
#else
    // NTFS journals its names; the renames themselves ask to be written through.
    return true;
#endif
}

QString uniqueSuffix()
{
    static constexpr char letters[] = "abcdefghijklmnopqrstuvwxyz0123456789";
    QString suffix;
    for (qsizetype i = 0; i < uniqueSuffixLength; ++i)
        suffix += QLatin1Char(letters[QRandomGenerator::global()->bounded(36)]);
    return suffix;
}

} // namespace kesto::writer

namespace kesto {

QStringList repairInterruptedSaves()
{
    using namespace writer;
    QStringList messages;
    const QString folder = stateDirectory();
    if (folder.isEmpty())
        return messages;
    const QStringList names =
        QDir(folder).entryList({recordPrefix + u'*' + recordSuffix}, QDir::Files | QDir::Hidden, QDir::Name);
    for (const QString &name : names) {
        QFile file(folder + u'/' + name);
        // A locked record belongs to a save that is still running.
        if (!file.open(QIODevice::ReadWrite | QIODevice::ExistingOnly) || !lockFile(file))
            continue;
#ifdef Q_OS_UNIX
        // Finished and removed while this one waited for the lock.
        if (identityOf(file.fileName()) != identityOfDescriptor(file.handle()))
            continue;
#endif
        // A record is locked just after it is made: an empty one may be that
        // moment of a save starting in another instance. Once older, it is
        // what a save killed at that moment left, and names nothing to repair.
        const QDateTime modified = QFileInfo(file).lastModified();
        const qint64 age = modified.secsTo(QDateTime::currentDateTime());
        if (file.size() == 0) {
            if (age >= 60)
                file.remove();
            continue;
        }
        const Record r = parseRecord(file.readAll());
        if (r.host != thisHost() && age < foreignRecordAgeSeconds)
            continue;
        const Repair outcome = repairOne(r);
        if (!outcome.message.isEmpty())
            messages << outcome.message;
        if (outcome.done)
            file.remove();
    }
    return messages;
}

} // namespace kesto
