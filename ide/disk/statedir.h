#pragma once

#include <QString>

namespace kesto {

// The program's own folder for data that must outlive the process but is no
// document of the user's (recovery copies, records of a save in progress):
// $XDG_STATE_HOME/kestoide, by default ~/.local/state/kestoide, on Linux; the
// per-user local application data folder on Windows. Never the runtime
// folder, which a logout empties. Created on first use, readable only by the
// user (lab machines are shared); empty when it cannot be made.
QString stateDirectory();
// Where this system keeps that folder, whether it is there or not.
QString systemStateFolder();

// Whether an entry another computer wrote into that folder may still belong
// to a running instance there.
//
// A home folder shared over the network is shared by every computer of the
// lab, but their locks need not reach each other: a file system mounted
// without lock support grants every host every lock. So an entry written by
// another host counts as alive, whatever its lock says, while its last
// change is recent enough: a recovery lock, whose instance refreshes its time
// every heartbeat, for five heartbeats; a save record, which nobody
// refreshes, for an hour, far longer than any save takes.
//
// On Windows the folder is the local, not the roaming, application data
// folder, which no other computer shares. Recovery locks there are
// QLockFiles: stale once their process is gone from this host, and never
// taken from another host; save records are judged as here.
enum class SharedEntry { RecoveryLock, SaveRecord };
inline constexpr int recoveryLockHeartbeatSeconds = 60;
bool foreignEntryAlive(SharedEntry entry, qint64 ageSeconds);

} // namespace kesto
