// libFuzzer target for a whole open-then-save through the real file
// functions: the input is written as a user's file, read with the loader,
// encoded and written back with the writer, then opened and saved again.

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
std::string openThenSave(const QString &path)
{
    const modOtworz::ReadResult read = modOtworz::readSourceFile(path);
    CHECK(read.ok);
    const modZapisz::Encoded encoded = modZapisz::encodeSourceText(read.utf8);
    CHECK(encoded.unmappable == 0); // a loaded text always fits Windows-1250
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

    // Expected file after the first save: each byte through the table and back
    // to Windows-1250, plus CR LF unless the text already ends in a line break.
    std::string expected;
    for (const char c : in) {
        const auto b = static_cast<unsigned char>(c);
        const int w = codepage::encodeCp1250(codepage::decodeSourceByte(b));
        CHECK(w >= 0);
        CHECK(w == b || codepage::decodeSourceByte(b) != codepage::decodeCp1250(b));
        expected += static_cast<char>(w);
    }
    if (in.empty() || (in.back() != '\r' && in.back() != '\n'))
        expected += "\r\n";

    const std::string first = openThenSave(path);
    CHECK(first == expected);

    // A saved file changes on the next open-then-save only where it holds the
    // Windows-1250 bytes of Ą or Ź, which the table reads as ą and Ć; after
    // that it stays byte-identical.
    const std::string second = openThenSave(path);
    CHECK(second.size() == first.size());
    for (std::size_t i = 0; i < first.size(); ++i) {
        const auto f = static_cast<unsigned char>(first[i]);
        const auto s = static_cast<unsigned char>(second[i]);
        CHECK(s == (f == 0xA5 ? 0xB9 : f == 0x8F ? 0xC6 : f));
    }
    CHECK(openThenSave(path) == second);
    return 0;
}
