#include "saverecord.h"

#include "durablewrite.h"
#include "fileio.h"
#include "statedir.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>

#include <algorithm>
#include <memory>

namespace kesto::writer {

using namespace fileio;

namespace {

// How much is read at a time.
constexpr qint64 bufferBytes = qint64(1) << 20;
constexpr qint64 leafBytes = 4096;
constexpr qint64 maxPieces = 4096;
constexpr qint64 maxHeadBytes = qint64(256) << 10;
constexpr qsizetype leafHash = 20; // bytes of a SHA-1
const QString recordPrefix = QStringLiteral("save-");
const QString recordSuffix = QStringLiteral(".record");
const QByteArray recordHeader = "kestoide-save 1";

QByteArray pathField(const QString &path) { return native(path).toPercentEncoding(); }
QString pathFrom(const QByteArray &field)
{
    return QFile::decodeName(QByteArray::fromPercentEncoding(field));
}

} // namespace

void ContentHashes::add(std::string_view bytes)
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

void ContentHashes::finish()
{
    if (m_inLeaf > 0)
        closeLeaf();
}

qint64 ContentHashes::leavesPerPiece() const
{
    qint64 leaves = 1;
    while (m_size > maxPieces * leaves * leafBytes)
        leaves *= 2;
    return leaves;
}

QList<QByteArray> ContentHashes::pieces(qint64 leavesPerPiece) const
{
    QList<QByteArray> hashes;
    const qsizetype step = static_cast<qsizetype>(leavesPerPiece) * leafHash;
    for (qsizetype at = 0; at < m_leaves.size(); at += step)
        hashes.append(QCryptographicHash::hash(m_leaves.mid(at, step), QCryptographicHash::Sha1).toHex());
    return hashes;
}

QByteArray ContentHashes::digest() const
{
    return QCryptographicHash::hash(m_leaves, QCryptographicHash::Sha1).toHex();
}

void ContentHashes::closeLeaf()
{
    m_leaves += m_hash.result();
    m_hash.reset();
    m_inLeaf = 0;
}

bool readWhole(QFileDevice &from, ContentHashes &hashes, QFileDevice *to)
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

bool putBack(QFile &backup, QFile &target, const QString &path)
{
    ContentHashes unused;
    return target.resize(0) && target.seek(0) && readWhole(backup, unused, &target) && syncFile(target, path);
}

SaveRecord::~SaveRecord()
{
    if (!m_keep)
        m_file.remove();
}

bool SaveRecord::begin(const QString &folder, bool quiet, const QString &path, const FileIdentity &file,
                       const ContentHashes &fresh)
{
    for (int attempt = 0; attempt < 8 && !m_file.isOpen(); ++attempt) {
        m_file.setFileName(folder + u'/' + recordPrefix + uniqueSuffix() + recordSuffix);
        if (!m_file.open(QIODevice::WriteOnly | QIODevice::NewOnly | QIODevice::Unbuffered,
                         QFileDevice::ReadOwner | QFileDevice::WriteOwner))
            m_file.setFileName(QString()); // not ours: never removed
    }
    if (!m_file.isOpen() || !lockFile(m_file))
        return false;
    const qint64 leaves = fresh.leavesPerPiece();
    QByteArray head = recordHeader + "\nhost " + thisHost().toPercentEncoding() + "\nquiet " +
                      (quiet ? "1" : "0") + "\ntarget " + pathField(path) + "\nfile " +
                      QByteArray::number(file.device) + ' ' + QByteArray::number(file.inode) + "\nnew " +
                      QByteArray::number(fresh.size()) + ' ' + QByteArray::number(leaves) + "\nhead " +
                      fresh.head().left(static_cast<qsizetype>(leaves * leafBytes)).toBase64() + "\npieces";
    for (const QByteArray &piece : fresh.pieces(leaves))
        head += ' ' + piece;
    return append(head + '\n') && syncFolder(folder);
}

bool SaveRecord::nameBackup(const QString &backup) { return append("backup " + pathField(backup) + '\n'); }

bool SaveRecord::backupDone(const ContentHashes &old)
{
    return append("old " + QByteArray::number(old.size()) + ' ' + old.digest() + "\nend\n");
}

void SaveRecord::keep()
{
    m_keep = true;
    m_file.close();
}

bool SaveRecord::append(const QByteArray &lines)
{
    return writeOut(m_file, {lines.constData(), static_cast<std::size_t>(lines.size())}) && syncFile(m_file);
}

namespace {

// What a record read back says an in-place save had done.
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
    const bool restored = putBack(backup, target, r.target);
    mode.restore();
    if (!restored)
        return notRestored;
    backup.remove();
    // The user may have gone on as if the save had been made.
    if (r.quiet)
        return {};
    return {true,
            QStringLiteral("Ostatni zapis pliku \"%1\" nie został dokończony; przywrócono poprzednią treść.")
                .arg(shown(r.target))};
}

} // namespace

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
        // One finished and removed while this one waited for the lock has no name.
        if (!file.open(QIODevice::ReadWrite | QIODevice::ExistingOnly) || !fileio::lockFile(file) ||
            !fileio::stillNamed(file))
            continue;
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
        if (r.host != fileio::thisHost() && foreignEntryAlive(SharedEntry::SaveRecord, age))
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
