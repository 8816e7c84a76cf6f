#include "ownsaves.h"

#include "fileio.h"
#include "filewriter.h"
#include "statedir.h"

#include <QFile>
#include <QList>
#include <QLockFile>

namespace kesto {
namespace {

const QByteArray header = "kestoide-own-saves 1";
// A record is a few dozen kilobytes; anything larger is no record of ours.
constexpr qint64 mostBytes = qint64(1) << 20;

QByteArray line(const Fingerprint &print)
{
    return QByteArray::number(print.size) + ' ' + QByteArray::number(print.hash, 16).rightJustified(16, '0');
}

// A file that is not a record reads as an empty one.
QList<Fingerprint> read(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly) || file.size() > mostBytes)
        return {};
    QList<QByteArray> lines = file.readAll().split('\n');
    if (lines.takeFirst() != header)
        return {};
    QList<Fingerprint> prints;
    for (const QByteArray &l : lines) {
        const QList<QByteArray> fields = l.split(' ');
        bool sized = false, hashed = false;
        const Fingerprint print{fields.first().toULongLong(&sized), fields.last().toULongLong(&hashed, 16)};
        if (fields.size() == 2 && sized && hashed)
            prints.append(print);
    }
    return prints;
}

} // namespace

OwnSaves::OwnSaves() : OwnSaves(stateDirectory()) {}

OwnSaves::OwnSaves(const QString &folder)
{
    if (!folder.isEmpty())
        m_path = folder + QStringLiteral("/own-saves-") +
                 QString::fromLatin1(fileio::thisHost().toPercentEncoding()) + QStringLiteral(".list");
}

QList<Fingerprint> OwnSaves::saves() const
{
    // Read without the lock: the record is always replaced whole.
    return m_path.isEmpty() ? QList<Fingerprint>() : read(m_path);
}

bool OwnSaves::remember(const Fingerprint &print) const
{
    if (m_path.isEmpty())
        return false;
    // Two instances saving at once must not drop each other's entry. The
    // lock is held for the moment of one small write; one left by a process
    // that died is taken over (QLockFile).
    QLockFile lock(m_path + QStringLiteral(".guard"));
    if (!lock.tryLock(2000))
        return false;
    QList<Fingerprint> prints = read(m_path);
    prints.removeAll(print);
    prints.prepend(print);
    QByteArray bytes = header + '\n';
    for (const Fingerprint &p : prints.first(std::min<qsizetype>(prints.size(), kept)))
        bytes += line(p) + '\n';
    // The same safe write as the settings file: the old record stays whole
    // until the new one has reached the disk.
    return writeWholeFile(m_path, {bytes.constData(), static_cast<std::size_t>(bytes.size())}, true);
}

} // namespace kesto
