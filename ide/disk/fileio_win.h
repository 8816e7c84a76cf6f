#pragma once
// What the Windows half of the disk code shares beyond fileio.h.

#include <string>

class QString;

namespace kesto::fileio {

// The path as the wide-character Win32 calls take it: absolute, with
// backslashes, in the \\?\ form that lifts the limit of 259 characters (as
// Qt's own file calls do).
std::wstring longPath(const QString &path);

} // namespace kesto::fileio
