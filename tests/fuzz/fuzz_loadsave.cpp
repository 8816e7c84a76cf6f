// libFuzzer target for a whole open-then-save through the real file
// functions: the input is written as a user's file, read with the loader,
// encoded and written back with the writer, then opened and saved again
// until nothing changes.

#define FUZZ_TARGET "fuzz_loadsave"
#include "fuzzcheck.h"

#include "codepage.h"
#include "disk/filewriter.h"
#include "modotworz.h"
#include "modzapisz.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

using namespace kesto;

namespace {

QTemporaryDir *workDir = nullptr;

std::string readRaw(const QString &path)
{
    QFile f(path);
    CHECK(f.open(QIODevice::ReadOnly));
    const QByteArray all = f.readAll();
    return {all.constData(), static_cast<std::size_t>(all.size())};
}

void writeRaw(const QString &path, std::string_view bytes)
{
    QFile f(path);
    CHECK(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    CHECK(f.write(bytes.data(), static_cast<qint64>(bytes.size())) == static_cast<qint64>(bytes.size()));
}

// One Open followed by one Save of the same path; returns the bytes on disk.
std::string openThenSave(const QString &path, codepage::SourceEncoding *encoding = nullptr)
{
    const modOtworz::ReadResult read = modOtworz::readSourceFile(path);
    CHECK(read.ok);
    if (encoding)
        *encoding = read.encoding;
    const modZapisz::Encoded encoded = modZapisz::encodeSourceText(read.utf8);
    // A text read byte by byte always fits Windows-1250; UTF-8 need not.
    CHECK(encoded.unmappable == 0 || read.encoding == codepage::SourceEncoding::Utf8);
    CHECK(writeWholeFile(path, encoded.bytes));
    const std::string disk = readRaw(path);
    CHECK(disk == encoded.bytes);
    // The temporary file of the save is gone: the folder holds the one file.
    CHECK(QDir(workDir->path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden).size() ==
          1);
    return disk;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    // In memory where there is a tmpfs: the writer syncs every save to disk,
    // which would otherwise bound the run to a few hundred saves a second.
    const QString shm = QStringLiteral("/dev/shm");
    workDir = QFileInfo(shm).isWritable() ? new QTemporaryDir(shm + QStringLiteral("/kesto-fuzz-XXXXXX"))
                                          : new QTemporaryDir;
    if (!workDir->isValid())
        fuzzFail(FUZZ_TARGET, "no temporary folder");
    std::atexit([] { delete workDir; });
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const std::string_view in(reinterpret_cast<const char *>(data), size);
    const QString path = workDir->filePath(QStringLiteral("prog.asm"));
    writeRaw(path, in);

    // Read as plain Windows-1250, a file is written back byte for byte (CR LF
    // added unless it ends in a break); each byte's reading is fuzz_codec's business.
    codepage::SourceEncoding encoding{};
    const std::string first = openThenSave(path, &encoding);
    if (encoding == codepage::SourceEncoding::Cp1250)
        CHECK(first == std::string(in) + (in.back() == '\r' || in.back() == '\n' ? "" : "\r\n"));

    // Saves read as plain Windows-1250 come back as written; others settle: a
    // round read byte by byte keeps the length, one read as UTF-8 shortens it.
    std::string previous = first;
    for (std::size_t round = 0;; ++round) {
        CHECK(round <= previous.size() + 4);
        const std::string next = openThenSave(path, &encoding);
        if (encoding == codepage::SourceEncoding::Cp1250)
            CHECK(next == previous);
        if (next == previous)
            break;
        CHECK(next.size() <= previous.size());
        previous = next;
    }
    return 0;
}
