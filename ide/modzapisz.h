#pragma once
// Writing a source file: the editor text in Windows-1250, ending in a line break.

#include "disk/fileidentity.h"

#include <QString>

#include <string>
#include <string_view>

class QWidget;
namespace kesto {
class Platform;
class SourceEditor;
} // namespace kesto

namespace kesto::modZapisz {

// The bytes of a saved file for the given editor text (UTF-8). A line break
// (`lineBreak`: the one Enter types in the editor) is added only when the
// text does not already end in one, so that open-then-save gives back the
// same file.
struct Encoded {
    std::string bytes;
    std::size_t unmappable = 0; // characters written as '?'
    char32_t firstUnmappable = 0;
    qsizetype firstUnmappableLine = 0; // 1-based, counted like the line indicator
};
Encoded encodeSourceText(std::string_view utf8, std::string_view lineBreak = "\r\n");

// Writes the editor text to `path` through the file writer (it keeps the
// file's owner, mode, attributes and links). Asks first when the text holds
// characters Windows-1250 cannot hold. Bytes that the reading rule would
// not read back as written go into the record of own saves (disk/ownsaves.h)
// before the file takes them. Returns false, after telling the user,
// when nothing was written, and `failure` (when given) says why, unless the
// user chose not to write; else `written`, when given, gets the file as it
// was written.
bool SaveSourceFile(const QString &path, const SourceEditor &editor, kesto::Platform &platform,
                    QWidget *parent, FileIdentity *written = nullptr, QString *failure = nullptr);

} // namespace kesto::modZapisz
