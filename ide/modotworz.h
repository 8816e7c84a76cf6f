#pragma once
// Reading a source file. The whole file is looked at first, to tell how it
// is read: the program's own saves as the plain Windows-1250 they were
// written in (disk/ownsaves.h), other files by the rule of codepage.h: UTF-8
// files as UTF-8, Windows-1250 text as such, everything else byte by byte
// with the 18 Polish letters of code page 852 laid over Windows-1250.

#include "codepage.h"

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

// What the caller may tell the user after a load.
struct LoadReport {
    codepage::SourceEncoding encoding = codepage::SourceEncoding::Cp852Letters;
    bool ownSave = false;                   // read as Windows-1250 for being one of the program's saves
    codepage::SourceScanner::Counts counts; // the letters the rule weighed
    bool declined = false;                  // not a text, and the user kept what the editor held
    QString failure;                        // why the file could not be read, when it could not
};

// What the status line adds after "Otworzono plik: ..." to say how the file
// was read, when that was not the letter table or was a close call; empty
// for a plain DOS file.
QString readingNote(const LoadReport &report);

// Puts the file's text into the editor, replacing all it held, and gives the
// file's identity as it was opened. A file with NUL bytes near its start is
// opened only when the user says so. When the file cannot be opened or read,
// tells the user, leaves the editor as it was and returns false.
bool LoadSourceFile(const QString &path, SourceEditor &editor, Platform &platform, QWidget *parent,
                    FileIdentity *identity = nullptr, LoadReport *report = nullptr);

// For the tests and fuzzers only (with recovery::decode, WriteResult::way and
// WriteOptions::unnamedTemporary): the production read loop without a
// window, and by the rule alone (the record of own saves is not asked).
// Reads and decodes the file; fails on anything that is not a readable
// regular file of at most maxSourceFileSize bytes.
struct ReadResult {
    bool ok = false;
    std::string utf8; // the decoded text, ready for the editor control
    codepage::SourceEncoding encoding = codepage::SourceEncoding::Cp852Letters;
};
ReadResult readSourceFile(const QString &path);

} // namespace kesto::modOtworz
