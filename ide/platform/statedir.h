#pragma once

#include <QString>

namespace kesto {

// The program's own folder for data that must outlive the process but is no
// document of the user's (recovery copies, backups of a save in progress):
// $XDG_STATE_HOME/kestoide, by default ~/.local/state/kestoide, on Linux; the
// per-user application data folder on Windows. Never the runtime folder,
// which a logout empties. Created on first use, readable only by the user
// (lab machines are shared); empty when it cannot be made.
QString stateDirectory();

} // namespace kesto
