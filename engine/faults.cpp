// The fault points below the engine and the VFS that counts file ones.
#include "engine/faults.h"

#include <sqlite3.h>

#include <atomic>

namespace engine {
namespace {

std::atomic<bool> g_armed{false};
std::atomic<unsigned> g_kinds{0};
std::atomic<int64_t> g_nth{0};
std::atomic<int64_t> g_seen{0};
std::atomic<bool> g_fired{false};

constexpr char kFaultVfsName[] = "kdx-faults";

// A file of the default VFS, which follows the FaultFile in the same memory.
struct FaultFile {
  sqlite3_file file;  // pMethods: kFaultMethods
};
constexpr int kHeaderSize = (sizeof(FaultFile) + 7) & ~7;

sqlite3_file* Base(sqlite3_file* file) {
  return reinterpret_cast<sqlite3_file*>(reinterpret_cast<char*>(file) + kHeaderSize);
}

// `rc` of the call made, unless this is the fault point that fails.
int Counted(int failure) { return FaultHere(kFile) ? failure : SQLITE_OK; }

// Version 2: without xFetch SQLite maps no page into memory, so every page
// it reads is a call of xRead.
const sqlite3_io_methods kFaultMethods = {
    2,
    [](sqlite3_file* f) {
      sqlite3_file* base = Base(f);
      return base->pMethods->xClose(base);
    },
    [](sqlite3_file* f, void* data, int amount, sqlite3_int64 offset) {
      if (int rc = Counted(SQLITE_IOERR_READ)) return rc;
      sqlite3_file* base = Base(f);
      return base->pMethods->xRead(base, data, amount, offset);
    },
    [](sqlite3_file* f, const void* data, int amount, sqlite3_int64 offset) {
      if (int rc = Counted(SQLITE_IOERR_WRITE)) return rc;
      sqlite3_file* base = Base(f);
      return base->pMethods->xWrite(base, data, amount, offset);
    },
    [](sqlite3_file* f, sqlite3_int64 size) {
      sqlite3_file* base = Base(f);
      return base->pMethods->xTruncate(base, size);
    },
    [](sqlite3_file* f, int flags) {
      if (int rc = Counted(SQLITE_IOERR_FSYNC)) return rc;
      sqlite3_file* base = Base(f);
      return base->pMethods->xSync(base, flags);
    },
    [](sqlite3_file* f, sqlite3_int64* size) {
      sqlite3_file* base = Base(f);
      return base->pMethods->xFileSize(base, size);
    },
    [](sqlite3_file* f, int level) {
      if (int rc = Counted(SQLITE_IOERR_LOCK)) return rc;
      sqlite3_file* base = Base(f);
      return base->pMethods->xLock(base, level);
    },
    [](sqlite3_file* f, int level) {
      sqlite3_file* base = Base(f);
      return base->pMethods->xUnlock(base, level);
    },
    [](sqlite3_file* f, int* out) {
      sqlite3_file* base = Base(f);
      return base->pMethods->xCheckReservedLock(base, out);
    },
    [](sqlite3_file* f, int op, void* arg) {
      sqlite3_file* base = Base(f);
      return base->pMethods->xFileControl(base, op, arg);
    },
    [](sqlite3_file* f) {
      sqlite3_file* base = Base(f);
      return base->pMethods->xSectorSize(base);
    },
    [](sqlite3_file* f) {
      sqlite3_file* base = Base(f);
      return base->pMethods->xDeviceCharacteristics(base);
    },
    [](sqlite3_file* f, int page, int page_size, int extend, void volatile** out) {
      sqlite3_file* base = Base(f);
      return base->pMethods->xShmMap(base, page, page_size, extend, out);
    },
    [](sqlite3_file* f, int offset, int n, int flags) {
      // Releasing a lock cannot fail; taking one can.
      if ((flags & SQLITE_SHM_LOCK) != 0) {
        if (int rc = Counted(SQLITE_IOERR_SHMLOCK)) return rc;
      }
      sqlite3_file* base = Base(f);
      return base->pMethods->xShmLock(base, offset, n, flags);
    },
    [](sqlite3_file* f) {
      sqlite3_file* base = Base(f);
      base->pMethods->xShmBarrier(base);
    },
    [](sqlite3_file* f, int delete_flag) {
      sqlite3_file* base = Base(f);
      return base->pMethods->xShmUnmap(base, delete_flag);
    },
    nullptr,
    nullptr,
};

int Open(sqlite3_vfs* self, const char* name, sqlite3_file* file, int flags, int* out_flags) {
  auto* base_vfs = static_cast<sqlite3_vfs*>(self->pAppData);
  file->pMethods = nullptr;
  if (int rc = Counted(SQLITE_CANTOPEN)) return rc;
  sqlite3_file* base = Base(file);
  base->pMethods = nullptr;
  const int rc = base_vfs->xOpen(base_vfs, name, base, flags, out_flags);
  if (rc != SQLITE_OK) {
    if (base->pMethods != nullptr) base->pMethods->xClose(base);
    return rc;
  }
  file->pMethods = &kFaultMethods;
  return SQLITE_OK;
}

sqlite3_vfs* Register() {
  static sqlite3_vfs vfs = [] {
    sqlite3_vfs* base = sqlite3_vfs_find(nullptr);
    sqlite3_vfs made = *base;
    made.zName = kFaultVfsName;
    made.pAppData = base;
    made.szOsFile = base->szOsFile + kHeaderSize;
    made.xOpen = &Open;
    return made;
  }();
  static const bool registered = sqlite3_vfs_register(&vfs, 0) == SQLITE_OK;
  return registered ? &vfs : nullptr;
}

std::atomic<sqlite3_vfs*> g_vfs{nullptr};

}  // namespace

void ArmFault(int64_t nth, unsigned kinds) {
  g_vfs.store(Register());
  g_seen.store(0);
  g_fired.store(false);
  g_nth.store(nth);
  g_kinds.store(kinds);
  g_armed.store(true);
}

void DisarmFault() {
  g_armed.store(false);
  g_nth.store(0);
}

int64_t FaultPointsSeen() { return g_seen.load(); }

bool FaultFired() { return g_fired.load(); }

bool FaultHere(FaultKind kind) {
  if (!g_armed.load(std::memory_order_relaxed) || (g_kinds.load() & kind) == 0) return false;
  const int64_t seen = g_seen.fetch_add(1) + 1;
  if (seen != g_nth.load()) return false;
  g_fired.store(true);
  return true;
}

sqlite3_vfs* FaultVfs() { return g_vfs.load(); }

}  // namespace engine
