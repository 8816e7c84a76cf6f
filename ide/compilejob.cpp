#include "compilejob.h"

#include <QFile>

namespace kesto {

namespace {
// A hex file of the lab's machines holds at most 64 KiB of program, about
// 180 KiB of text; past this the identity alone must do.
constexpr qint64 snapshotLimit = 1 << 20;
} // namespace

HexSnapshot takeHexSnapshot(const QString &path)
{
    HexSnapshot snapshot;
    snapshot.identity = identityOf(path);
    QFile file(path);
    if (snapshot.identity.exists && snapshot.identity.size <= snapshotLimit &&
        file.open(QIODevice::ReadOnly)) {
        snapshot.bytes = file.read(snapshotLimit + 1);
        snapshot.whole = snapshot.bytes.size() <= snapshotLimit;
    }
    return snapshot;
}

bool hexRewritten(const HexSnapshot &before, const QString &path)
{
    const HexSnapshot now = takeHexSnapshot(path);
    if (!now.identity.exists)
        return false;
    if (now.identity != before.identity)
        return true;
    return before.whole && now.whole && now.bytes != before.bytes;
}

} // namespace kesto
