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

// The record's lines, newest first; a file that is not one reads as empty.
QList<QByteArray> entries(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly) || file.size() > mostBytes)
        return {};
    QList<QByteArray> lines = file.readAll().split('\n');
    if (lines.isEmpty() || lines.takeFirst() != header)
        return {};
    lines.removeAll(QByteArray());
    return lines;
}

} // namespace

OwnSaves::OwnSaves() : OwnSaves(stateDirectory()) {}

OwnSaves::OwnSaves(const QString &folder)
{
    if (!folder.isEmpty())
        m_path = folder + QStringLiteral("/own-saves-") +
                 QString::fromLatin1(fileio::thisHost().toPercentEncoding()) + QStringLiteral(".list");
}

bool OwnSaves::contains(const Fingerprint &print) const
{
    // Read without the lock: the record is always replaced whole.
    return !m_path.isEmpty() && entries(m_path).contains(line(print));
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
    QList<QByteArray> lines = entries(m_path);
    const QByteArray newest = line(print);
    lines.removeAll(newest);
    lines.prepend(newest);
    QByteArray bytes = header;
    for (const QByteArray &l : lines.first(std::min<qsizetype>(lines.size(), kept)))
        bytes += '\n' + l;
    bytes += '\n';
    // The same safe write as the settings file: the old record stays whole
    // until the new one has reached the disk.
    return writeWholeFile(m_path, {bytes.constData(), static_cast<std::size_t>(bytes.size())}, true);
}

} // namespace kesto
