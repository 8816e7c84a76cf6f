#pragma once
// Writing a source file: the editor text in Windows-1250, ending in a line break.

#include <QString>

#include <string>
#include <string_view>

class QWidget;
namespace kesto {
class Platform;
class SourceEditor;
} // namespace kesto

namespace kesto::modZapisz {

// The bytes of a saved file for the given editor text (UTF-8). CR LF is
// added only when the text does not already end in a line break, so that
// open-then-save gives back the same file.
struct Encoded {
    std::string bytes;
    std::size_t unmappable = 0; // characters written as '?'
    char32_t firstUnmappable = 0;
    qsizetype firstUnmappableLine = 0; // 1-based, counted like the line indicator
};
Encoded encodeSourceText(std::string_view utf8);

// Writes `bytes` to `path` all at once: into a temporary file beside it,
// which replaces the target only when every byte is written. On failure the
// old file stays as it was.
bool writeFileAtomically(const QString &path, std::string_view bytes);

// Writes the editor text to `path`. Asks first when the text holds characters
// Windows-1250 cannot hold. Returns false, after telling the user, when
// nothing was written.
bool SaveSourceFile(const QString &path, const SourceEditor &editor, kesto::Platform &platform,
                    QWidget *parent);

} // namespace kesto::modZapisz
