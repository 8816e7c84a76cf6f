#pragma once
// Reading a source file: every byte becomes one character, the 18 Polish
// letters of code page 852 through their table, all others as Windows-1250.

#include <QString>

#include <string>

class QWidget;
namespace kesto {
struct FileIdentity;
class Platform;
class SourceEditor;
} // namespace kesto

namespace kesto::modOtworz {

// Files larger than this are refused rather than exhausting memory.
constexpr qint64 maxSourceFileSize = qint64(1) << 30;

// Puts the file's text into the editor, replacing all it held, and gives the
// file's identity as it was opened. When the file cannot be opened or read,
// tells the user, leaves the editor as it was and returns false.
bool LoadSourceFile(const QString &path, SourceEditor &editor, Platform &platform, QWidget *parent,
                    FileIdentity *identity = nullptr);

// For the tests and fuzzers only (with recovery::decode, WriteResult::way and
// WriteOptions::unnamedTemporary): the production read loop without a
// window. Reads and decodes the file; fails on anything that is not a
// readable regular file of at most maxSourceFileSize bytes.
struct ReadResult {
    bool ok = false;
    std::string utf8; // the decoded text, ready for the editor control
};
ReadResult readSourceFile(const QString &path);

} // namespace kesto::modOtworz
