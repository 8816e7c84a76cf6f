#pragma once
// The record an in-place save (inplacewrite.h) keeps in the program's own
// folder while it runs, and the repair, at the next start, of a save that the
// end of the process cut short.

#include "fileidentity.h"

#include <QByteArray>
#include <QFile>
#include <QList>
#include <QString>
#include <QStringList>

#include <QCryptographicHash>

#include <string_view>

class QFileDevice;

namespace kesto::writer {

// A content is hashed in leaves of 4 KiB; the record keeps the hashes of
// pieces of a power of two leaves, at most maxPieces of them, and the
// content's first piece as it is. A file whose whole pieces and head match
// the new content's, and which is no longer, was cut short by an interrupted
// rewrite; any other difference is someone else's change.
class ContentHashes {
public:
    void add(std::string_view bytes);
    void finish();
    qint64 size() const { return m_size; }
    // The first bytes, up to maxHeadBytes.
    const QByteArray &head() const { return m_head; }
    // Leaves per piece for a content of this one's size.
    qint64 leavesPerPiece() const;
    // The pieces' hashes in hex; the last piece may be short.
    QList<QByteArray> pieces(qint64 leavesPerPiece) const;
    QByteArray digest() const;

private:
    void closeLeaf();
    QCryptographicHash m_hash{QCryptographicHash::Sha1};
    QByteArray m_leaves; // the leaves' hashes, one after another
    QByteArray m_head;
    qint64 m_inLeaf = 0;
    qint64 m_size = 0;
};

// Reads `from` from its start to its end into `hashes` and, when given, `to`.
bool readWhole(QFileDevice &from, ContentHashes &hashes, QFileDevice *to = nullptr);
// Gives `target`, the file at `path`, the content of `backup` again, synced.
bool putBack(QFile &backup, QFile &target, const QString &path);

// The record of one running save. It stays locked while the save runs, so
// that another instance's repair leaves it alone; unless kept, it goes when
// the save is over. Each addition is durable before the save goes on.
class SaveRecord {
public:
    SaveRecord() = default;
    SaveRecord(const SaveRecord &) = delete;
    SaveRecord &operator=(const SaveRecord &) = delete;
    ~SaveRecord();

    // Makes the record in `folder`: the file `path` (now `file`) is about to
    // get the content `fresh` measured.
    bool begin(const QString &folder, bool quiet, const QString &path, const FileIdentity &file,
               const ContentHashes &fresh);
    // Names the backup before it is made, so that a crash leaves no backup
    // the repair does not know of.
    bool nameBackup(const QString &backup);
    // The backup holds `old` whole and synced: only now may the file change.
    bool backupDone(const ContentHashes &old);
    // The save failed and its old content is not back: the next start tries again.
    void keep();

private:
    bool append(const QByteArray &lines);
    QFile m_file;
    bool m_keep = false;
};

} // namespace kesto::writer

namespace kesto {

// Puts right the in-place saves that an earlier run left unfinished: a file
// that holds the new content whole stays, one cut short gets its old content
// back from the backup. A file changed by someone else since then is left
// alone, and its backup kept. Returns what the user must be told, one
// message per file (nothing for quiet files).
QStringList repairInterruptedSaves();

} // namespace kesto
