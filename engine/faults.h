// Fault injection below the engine, for tests: the calls the engine makes
// that the disk, the memory or a server can refuse are fault points, counted
// in the order they happen, and a test arms the Nth one to fail as it would
// if the world let the engine down. Nothing fails, and nothing below SQLite
// changes, until a test calls ArmFault.
//
// The fault points:
//  - kFile: every open, read, write, sync and lock (xShmLock too) of a
//    database file, through a VFS registered by the first ArmFault and put
//    below the engine's read-only VFS from then on. A failing open answers
//    SQLITE_CANTOPEN, a failing read, write, sync or lock the I/O error of
//    its kind.
//  - kCrypto: the libsodium calls that can fail: its initialisation, a
//    table password's key derivation, a sealed table's decryption, and the
//    hashing and checking of account passwords. A failing call fails as
//    libsodium reports an out-of-memory or a refused input.
//  - kServer: connecting to a PostgreSQL server and sending it a request;
//    a failing one leaves the connection broken, as a server gone away does.
//
// The counter and the armed point are the process's; the engine uses them
// under its lock.
#ifndef KDX_ENGINE_FAULTS_H_
#define KDX_ENGINE_FAULTS_H_

#include <cstdint>

struct sqlite3_vfs;

namespace engine {

enum FaultKind : unsigned { kFile = 1, kCrypto = 2, kServer = 4 };
inline constexpr unsigned kEveryFault = kFile | kCrypto | kServer;

// From now on, counting from 1, fault point number `nth` of the kinds in
// `kinds` fails (0: none fails; the points are still counted). Resets the
// count.
void ArmFault(int64_t nth, unsigned kinds = kEveryFault);
// Stops failing and counting.
void DisarmFault();
// The fault points of the armed kinds passed since ArmFault.
int64_t FaultPointsSeen();
// Whether the armed point failed since ArmFault.
bool FaultFired();

// For the engine's seams: counts a fault point of `kind`; true when it is
// the one to fail.
bool FaultHere(FaultKind kind);
// The VFS that counts file fault points, below which the default VFS does
// the work; null until the first ArmFault.
sqlite3_vfs* FaultVfs();

}  // namespace engine

#endif  // KDX_ENGINE_FAULTS_H_
