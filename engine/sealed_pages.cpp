// Pages of sealed table files (format version 2) and the VFS that reads them.
#include "engine/sealed_pages.h"

#include <sodium.h>
#include <sqlite3.h>

#include <cstring>
#include <map>
#include <mutex>
#include <new>

#include "engine/crypto.h"
#include "engine/errors.h"
#include "engine/faults.h"
#include "engine/sql_codes.h"
#include "engine/sqlite_support.h"

namespace engine {
namespace {

static_assert(crypto_aead_xchacha20poly1305_ietf_KEYBYTES == kPageKeyBytes);
static_assert(crypto_aead_xchacha20poly1305_ietf_NPUBBYTES == kPageNonceBytes);
static_assert(crypto_aead_xchacha20poly1305_ietf_ABYTES == kPageTagBytes);

constexpr char kPagesVfs[] = "kdx-sealed-pages";
constexpr char kTokenParameter[] = "kdx_pages";
constexpr size_t kAdditionalBytes = kPageIdentityBytes + 8;

// The additional data of page `page`: the file's identity, then the page
// number in 8 little-endian bytes.
void AdditionalData(const PageGeometry& geometry, uint64_t page, uint8_t* out) {
  std::memcpy(out, geometry.identity.data(), kPageIdentityBytes);
  for (int i = 0; i < 8; ++i) out[kPageIdentityBytes + i] = static_cast<uint8_t>(page >> (8 * i));
}

struct Registration {
  std::string path;
  PageGeometry geometry;
  ~Registration() { sodium_memzero(geometry.key.data(), geometry.key.size()); }
};

std::mutex& RegistryMutex() {
  static std::mutex mutex;
  return mutex;
}
std::map<uint64_t, std::shared_ptr<Registration>>& Registry() {
  static auto* registry = new std::map<uint64_t, std::shared_ptr<Registration>>;
  return *registry;
}

thread_local std::string t_page_failure;

// One open file: the real file below, its registration and the page last
// decrypted (SQLite reads a page's header and body separately at times).
struct PagesFile {
  sqlite3_file base;  // pMethods: kPagesMethods
  sqlite3_file* real = nullptr;
  std::shared_ptr<Registration> registration;
  uint64_t cached_page = 0;  // 0: none
  std::string plain;         // page_size bytes
  std::string slot;          // one slot as stored
};

PagesFile* Of(sqlite3_file* file) { return reinterpret_cast<PagesFile*>(file); }

int LoadPage(PagesFile* f, uint64_t page) {
  if (f->cached_page == page) return SQLITE_OK;
  const PageGeometry& g = f->registration->geometry;
  const uint64_t slot_bytes = PageSlotBytes(g.page_size);
  f->cached_page = 0;
  int rc = f->real->pMethods->xRead(f->real, f->slot.data(), static_cast<int>(slot_bytes),
                                    static_cast<sqlite3_int64>(g.data_offset + (page - 1) * slot_bytes));
  if (rc == SQLITE_OK &&
      !OpenPage(g, page, reinterpret_cast<const uint8_t*>(f->slot.data()), reinterpret_cast<uint8_t*>(f->plain.data()))) {
    sodium_memzero(f->plain.data(), f->plain.size());
    t_page_failure = "Sealed table file " + Quoted(f->registration->path) + ": damaged: page " +
                     std::to_string(page) + " fails authentication";
    return SQLITE_IOERR_READ;
  }
  if (rc == SQLITE_IOERR_SHORT_READ) {
    // The header promised this page: the file was cut.
    t_page_failure = "Sealed table file " + Quoted(f->registration->path) + ": damaged: page " +
                     std::to_string(page) + " is missing (the file is cut short)";
    return SQLITE_IOERR_READ;
  }
  if (rc != SQLITE_OK) return rc;
  f->cached_page = page;
  return SQLITE_OK;
}

int Read(sqlite3_file* file, void* out, int amount, sqlite3_int64 offset) {
  PagesFile* f = Of(file);
  const PageGeometry& g = f->registration->geometry;
  const uint64_t logical = g.pages * g.page_size;
  auto* to = static_cast<uint8_t*>(out);
  uint64_t at = static_cast<uint64_t>(offset);
  size_t left = static_cast<size_t>(amount);
  while (left > 0) {
    if (at >= logical) {
      std::memset(to, 0, left);
      return SQLITE_IOERR_SHORT_READ;
    }
    const uint64_t page = at / g.page_size + 1;
    const size_t within = static_cast<size_t>(at % g.page_size);
    if (int rc = LoadPage(f, page); rc != SQLITE_OK) return rc;
    const size_t n = std::min(left, g.page_size - within);
    std::memcpy(to, f->plain.data() + within, n);
    to += n;
    at += n;
    left -= n;
  }
  return SQLITE_OK;
}

int Close(sqlite3_file* file) {
  PagesFile* f = Of(file);
  int rc = SQLITE_OK;
  if (f->real != nullptr) {
    if (f->real->pMethods != nullptr) rc = f->real->pMethods->xClose(f->real);
    sqlite3_free(f->real);
  }
  sodium_memzero(f->plain.data(), f->plain.size());
  f->~PagesFile();
  return rc;
}

// The file is only ever read, by a reader that takes no lock: writes,
// truncation and syncs are refused, locks always granted.
const sqlite3_io_methods kPagesMethods = {
    1,
    Close,
    Read,
    [](sqlite3_file*, const void*, int, sqlite3_int64) { return SQLITE_READONLY; },
    [](sqlite3_file*, sqlite3_int64) { return SQLITE_READONLY; },
    [](sqlite3_file*, int) { return SQLITE_OK; },
    [](sqlite3_file* file, sqlite3_int64* size) {
      const PageGeometry& g = Of(file)->registration->geometry;
      *size = static_cast<sqlite3_int64>(g.pages * g.page_size);
      return SQLITE_OK;
    },
    [](sqlite3_file*, int) { return SQLITE_OK; },
    [](sqlite3_file*, int) { return SQLITE_OK; },
    [](sqlite3_file*, int* reserved) {
      *reserved = 0;
      return SQLITE_OK;
    },
    [](sqlite3_file*, int, void*) { return SQLITE_NOTFOUND; },
    [](sqlite3_file* file) { return static_cast<int>(Of(file)->registration->geometry.page_size); },
    [](sqlite3_file*) { return SQLITE_IOCAP_IMMUTABLE; },
    nullptr, nullptr, nullptr, nullptr, nullptr, nullptr};

sqlite3_vfs* Below() { return FaultVfs() != nullptr ? FaultVfs() : sqlite3_vfs_find(nullptr); }

int Open(sqlite3_vfs*, sqlite3_filename name, sqlite3_file* file, int flags, int* out_flags) {
  file->pMethods = nullptr;
  // Only the database itself is read through this VFS: a journal, a
  // temporary file or anything written is never made.
  if ((flags & SQLITE_OPEN_MAIN_DB) == 0 || (flags & SQLITE_OPEN_READONLY) == 0 || name == nullptr) {
    return SQLITE_CANTOPEN;
  }
  const sqlite3_int64 token = sqlite3_uri_int64(name, kTokenParameter, 0);
  std::shared_ptr<Registration> registration;
  {
    std::lock_guard<std::mutex> lock(RegistryMutex());
    auto found = Registry().find(static_cast<uint64_t>(token));
    if (found != Registry().end()) registration = found->second;
  }
  if (registration == nullptr) return SQLITE_CANTOPEN;
  sqlite3_vfs* below = Below();
  auto* real = static_cast<sqlite3_file*>(sqlite3_malloc(below->szOsFile));
  if (real == nullptr) return SQLITE_NOMEM;
  std::memset(real, 0, static_cast<size_t>(below->szOsFile));
  int real_flags = 0;
  const int rc = below->xOpen(below, name, real, SQLITE_OPEN_READONLY | SQLITE_OPEN_MAIN_DB, &real_flags);
  if (rc != SQLITE_OK) {
    if (real->pMethods != nullptr) real->pMethods->xClose(real);
    sqlite3_free(real);
    return rc;
  }
  auto* f = new (file) PagesFile;
  f->base.pMethods = &kPagesMethods;
  f->real = real;
  f->registration = std::move(registration);
  const PageGeometry& g = f->registration->geometry;
  f->plain.assign(g.page_size, '\0');
  f->slot.assign(PageSlotBytes(g.page_size), '\0');
  if (out_flags != nullptr) *out_flags = SQLITE_OPEN_READONLY;
  return SQLITE_OK;
}

void RegisterVfs() {
  static const bool registered = [] {
    static sqlite3_vfs vfs = *sqlite3_vfs_find(nullptr);
    vfs.iVersion = 1;
    vfs.szOsFile = static_cast<int>(sizeof(PagesFile));
    vfs.zName = kPagesVfs;
    vfs.pNext = nullptr;
    vfs.xOpen = Open;
    vfs.xDelete = [](sqlite3_vfs*, const char*, int) { return SQLITE_IOERR_DELETE; };
    return sqlite3_vfs_register(&vfs, 0) == SQLITE_OK;
  }();
  static_cast<void>(registered);  // an unregistered VFS makes every open fail, naming the file
}

class Reading : public SealedPagesReading {
 public:
  Reading(uint64_t token, std::string uri) : token_(token), uri_(std::move(uri)) {}
  ~Reading() override {
    std::lock_guard<std::mutex> lock(RegistryMutex());
    Registry().erase(token_);
  }
  const std::string& uri() const override { return uri_; }

 private:
  uint64_t token_;
  std::string uri_;
};

}  // namespace

uint32_t ImagePageSize(std::string_view image) {
  if (image.size() < 100) return 0;
  const uint32_t declared = (static_cast<uint8_t>(image[16]) << 8) | static_cast<uint8_t>(image[17]);
  const uint32_t size = declared == 1 ? 65536 : declared;
  if (size < 512 || size > 65536 || (size & (size - 1)) != 0 || image.size() % size != 0) return 0;
  return size;
}

Status SealPages(const PageGeometry& geometry, std::string_view image, std::string* out) {
  if (Status ready = SodiumReady(AE_KDX_SEALED_REFUSED); !ready.ok()) return ready;
  if (geometry.page_size == 0 || image.size() != geometry.pages * geometry.page_size) {
    return Status(AE_KDX_SEALED_REFUSED, "A table image of " + std::to_string(image.size()) +
                                             " bytes is no whole number of pages of " +
                                             std::to_string(geometry.page_size) + " bytes");
  }
  const uint64_t slot_bytes = PageSlotBytes(geometry.page_size);
  const size_t start = out->size();
  out->resize(start + geometry.pages * slot_bytes);
  auto* at = reinterpret_cast<uint8_t*>(out->data() + start);
  uint8_t additional[kAdditionalBytes];
  for (uint64_t page = 1; page <= geometry.pages; ++page, at += slot_bytes) {
    randombytes_buf(at, kPageNonceBytes);
    AdditionalData(geometry, page, additional);
    unsigned long long written = 0;
    const auto* plain = reinterpret_cast<const uint8_t*>(image.data()) + (page - 1) * geometry.page_size;
    crypto_aead_xchacha20poly1305_ietf_encrypt(at + kPageNonceBytes, &written, plain, geometry.page_size,
                                               additional, kAdditionalBytes, nullptr, at, geometry.key.data());
  }
  return Status();
}

bool OpenPage(const PageGeometry& geometry, uint64_t page, const uint8_t* slot, uint8_t* plain) {
  uint8_t additional[kAdditionalBytes];
  AdditionalData(geometry, page, additional);
  const SealedCipher sealed{slot + kPageNonceBytes, geometry.page_size + kPageTagBytes, additional, kAdditionalBytes,
                            slot};
  size_t length = 0;
  return DecryptSealed(sealed, geometry.key.data(), plain, &length) && length == geometry.page_size;
}

std::unique_ptr<SealedPagesReading> RegisterSealedPages(const std::string& path, const PageGeometry& geometry) {
  RegisterVfs();
  static uint64_t next_token = 0;
  auto registration = std::make_shared<Registration>();
  registration->path = path;
  registration->geometry = geometry;
  uint64_t token = 0;
  {
    std::lock_guard<std::mutex> lock(RegistryMutex());
    token = ++next_token;
    Registry()[token] = std::move(registration);
  }
  // ReadOnlyUri's escaping of the path, then this VFS and the token.
  std::string uri = ReadOnlyUri(path);
  uri = uri.substr(0, uri.find('?'));
  uri += std::string("?mode=ro&immutable=1&vfs=") + kPagesVfs + "&" + kTokenParameter + "=" + std::to_string(token);
  return std::make_unique<Reading>(token, std::move(uri));
}

bool TakeSealedPageFailure(std::string* text) {
  if (t_page_failure.empty()) return false;
  *text = std::move(t_page_failure);
  t_page_failure.clear();
  return true;
}

}  // namespace engine
