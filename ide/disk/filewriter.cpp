#include "filewriter.h"
#include "filewriter_p.h"

#include "failurereason.h"
#include "fileio.h"

#include <QDir>
#include <QDirIterator>

namespace kesto {

namespace writer {

QString temporaryPrefix(const QString &name)
{
    return u'.' + fileio::nameStem(name) + QStringLiteral(".kestoide-tmp-");
}

void removeStrayTemporaries(const QString &folder, const QString &name)
{
    const QString prefix = temporaryPrefix(name);
    // Unsorted and without name filters, which would take a '[' in the name
    // for a wildcard: a large folder costs no more than reading it.
    QDirIterator it(folder, QDir::Files | QDir::Hidden | QDir::System);
    while (it.hasNext()) {
        const QString path = it.next();
        const QString entry = it.fileName();
        if (entry.startsWith(prefix) && entry.size() == prefix.size() + fileio::uniqueSuffixLength)
            removeUnlessHeld(path);
    }
}

Replace writeAndPlace(fileio::DurableWrite &temp, const QString &target,
                      fileio::DurableWrite::Placing placing, const ByteSource &source,
                      const WriteOptions &options, WriteResult &result)
{
    if (!source([&temp](std::string_view bytes) { return temp.write(bytes); }))
        return Replace::Failed;
    if (options.confirm && !options.confirm())
        return Replace::Cancelled;
    // Taken now and again right after the name is taken, not after the
    // syncs: a program that writes the file while they run must not have its
    // change taken for this save's.
    const FileIdentity atLastByte = identityOfDescriptor(temp.handle());
    if (options.afterLastByte)
        options.afterLastByte();
    using Outcome = fileio::DurableWrite::Outcome;
    // The temporary, still open on Unix, is the file that took the name.
    const Outcome placed = temp.place(placing, [&] {
        const int handle = temp.handle();
        result.written =
            identityOfPlaced(atLastByte, handle >= 0 ? identityOfDescriptor(handle) : identityOf(target));
    });
    result.backupKept = temp.backupKept();
    return placed == Outcome::Placed    ? Replace::Done
           : placed == Outcome::OldKept ? Replace::NotPossible
                                        : Replace::Failed;
}

bool replaceIsOver(Replace r, WriteResult &result)
{
    result.way = WriteWay::Replace;
    result.status = r == Replace::Done        ? WriteStatus::Written
                    : r == Replace::Cancelled ? WriteStatus::Cancelled
                                              : WriteStatus::Failed;
    if (r != Replace::NotPossible)
        return true;
    result.way = WriteWay::InPlace;
    result.status = WriteStatus::Failed;
    return false;
}

} // namespace writer

WriteResult writeFile(const QString &path, const ByteSource &source, const WriteOptions &options)
{
    clearSystemError();
    WriteResult result = writer::writeFileHere(path, source, options);
    if (result.status == WriteStatus::Failed)
        result.error = lastSystemError();
    if (result.status == WriteStatus::Written && !result.written.exists)
        result.written = identityOf(path);
    return result;
}

bool writeWholeFile(const QString &path, std::string_view bytes, bool quiet)
{
    WriteOptions options;
    options.quiet = quiet;
    return writeFile(
               path, [bytes](const ByteSink &sink) { return sink(bytes); }, options)
               .status == WriteStatus::Written;
}

} // namespace kesto
