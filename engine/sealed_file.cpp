// Sealed table files: header parsing, key derivation with a per-process key
// cache, in-memory decryption, and sealing/unsealing through a temporary file.
#include "engine/sealed_file.h"

#include <fcntl.h>
#include <sodium.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <list>
#include <mutex>

#include "engine/crypto.h"
#include "engine/errors.h"
#include "engine/record_format.h"
#include "engine/sealed_format.h"
#include "engine/sealed_pages.h"
#include "engine/sql_codes.h"
#include "engine/sqlite_support.h"
#include "util/whole_file.h"

namespace engine {
namespace {

constexpr size_t kKeyBytes = crypto_aead_xchacha20poly1305_ietf_KEYBYTES;
constexpr char kKeyCheckText[] = "KDX sealed table key check v1";
// Keys kept by the cache; the oldest goes first.
constexpr size_t kMaxCachedKeys = 32;
// Bytes read to find a header; a longer header is read whole.
constexpr size_t kHeaderReadAhead = 64 * 1024;

static_assert(crypto_aead_xchacha20poly1305_ietf_NPUBBYTES == kSealNonceBytes);
static_assert(crypto_aead_xchacha20poly1305_ietf_ABYTES == kSealTagBytes);
static_assert(crypto_pwhash_SALTBYTES == kSealSaltBytes);

// Every failure of a sealed file is one code: the table cannot be read.
Status Refused(std::string text) { return Status(AE_KDX_SEALED_REFUSED, std::move(text)); }

std::string FileError(const std::string& path, const std::string& reason) {
  return "Sealed table file " + Quoted(path) + ": " + reason;
}

// The header's numbers are little-endian, in the engine's one byte order.
void Put16(std::string* out, uint16_t v) {
  uint8_t bytes[2];
  record_format::Put16(bytes, v);
  out->append(reinterpret_cast<const char*>(bytes), sizeof bytes);
}
void Put32(std::string* out, uint32_t v) {
  uint8_t bytes[4];
  record_format::Put32(bytes, v);
  out->append(reinterpret_cast<const char*>(bytes), sizeof bytes);
}
void Put64(std::string* out, uint64_t v) {
  Put32(out, static_cast<uint32_t>(v));
  Put32(out, static_cast<uint32_t>(v >> 32));
}

// ---- whole-file I/O ----------------------------------------------------------

// Reads at most `limit` bytes from the start of `path`; `*size` is the file's size.
Status ReadFilePrefix(const std::string& path, size_t limit, std::string* data, uint64_t* size) {
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return Refused("Cannot open " + Quoted(path) + ": " + std::strerror(errno));
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    return Refused("Cannot read " + Quoted(path) + ": not a regular file");
  }
  *size = static_cast<uint64_t>(st.st_size);
  data->assign(static_cast<size_t>(std::min<uint64_t>(limit, *size)), '\0');
  size_t done = 0;
  while (done < data->size()) {
    ssize_t n = ::read(fd, data->data() + done, data->size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    done += static_cast<size_t>(n);
  }
  ::close(fd);
  data->resize(done);
  return Status();
}

// The whole sealed file, or the error naming it.
Status ReadSealedBytes(const std::string& path, std::string* data) {
  std::string error;
  if (!ReadWholeFile(path, data, &error)) return Refused(error);
  return Status();
}

std::string DirectoryOf(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

// Replaces `path` with `bytes`: written to a temporary file in the same
// folder, flushed, then renamed over `path`, so that a reader sees either the
// old or the new file, never a half-written one. The file keeps its mode.
Status ReplaceFile(const std::string& path, const uint8_t* bytes, size_t size) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return Refused("Cannot read " + Quoted(path) + ": " + std::strerror(errno));
  std::string temp = path + ".kdx-XXXXXX";
  int fd = ::mkstemp(temp.data());
  if (fd < 0) {
    return Refused("Cannot create a temporary file next to " + Quoted(path) + ": " + std::strerror(errno));
  }
  auto fail = [&](const std::string& what) {
    const std::string reason = std::strerror(errno);
    ::close(fd);
    ::unlink(temp.c_str());
    return Refused(what + " " + Quoted(temp) + ": " + reason + "; " + Quoted(path) + " is unchanged");
  };
  if (::fchmod(fd, st.st_mode & 07777) != 0) return fail("Cannot set the mode of");
  size_t done = 0;
  while (done < size) {
    ssize_t n = ::write(fd, bytes + done, size - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return fail("Cannot write");
    done += static_cast<size_t>(n);
  }
  if (::fsync(fd) != 0) return fail("Cannot flush");
  if (::close(fd) != 0) {
    fd = -1;
    const std::string reason = std::strerror(errno);
    ::unlink(temp.c_str());
    return Refused("Cannot close " + Quoted(temp) + ": " + reason + "; " + Quoted(path) + " is unchanged");
  }
  if (::rename(temp.c_str(), path.c_str()) != 0) {
    const std::string reason = std::strerror(errno);
    ::unlink(temp.c_str());
    return Refused("Cannot replace " + Quoted(path) + ": " + reason + "; the file is unchanged");
  }
  // The rename is in place; a folder that cannot be synced leaves it to the
  // file system's own schedule, which no reader notices.
  int dir = ::open(DirectoryOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir >= 0) {
    (void)::fsync(dir);
    ::close(dir);
  }
  return Status();
}

// ---- key derivation and its cache -------------------------------------------

struct DerivedKey {
  std::array<uint8_t, kSealSaltBytes> salt{};
  uint32_t passes = 0;
  uint32_t memory_kib = 0;
  std::array<uint8_t, crypto_generichash_BYTES> password_tag{};
  std::array<uint8_t, kKeyBytes> key{};
};

class KeyCache {
 public:
  ~KeyCache() { Clear(); }

  // The key for (salt, parameters, password): from the cache, or derived
  // now; false when libsodium cannot derive it (out of memory).
  bool Get(const SealedLayout& layout, const std::string& password, std::array<uint8_t, kKeyBytes>* key) {
    std::array<uint8_t, crypto_generichash_BYTES> tag{};
    {
      std::lock_guard<std::mutex> lock(mutex_);
      PasswordTag(password, &tag);
      for (auto it = keys_.begin(); it != keys_.end(); ++it) {
        if (it->salt == layout.salt && it->passes == layout.passes && it->memory_kib == layout.memory_kib &&
            sodium_memcmp(it->password_tag.data(), tag.data(), tag.size()) == 0) {
          *key = it->key;
          keys_.splice(keys_.begin(), keys_, it);
          return true;
        }
      }
    }
    if (!DeriveKey(key->data(), key->size(), password, layout.salt.data(), layout.passes,
                   static_cast<size_t>(layout.memory_kib) * 1024)) {
      return false;
    }
    std::lock_guard<std::mutex> lock(mutex_);
    DerivedKey entry;
    entry.salt = layout.salt;
    entry.passes = layout.passes;
    entry.memory_kib = layout.memory_kib;
    entry.password_tag = tag;
    entry.key = *key;
    keys_.push_front(entry);
    sodium_memzero(entry.key.data(), entry.key.size());
    while (keys_.size() > kMaxCachedKeys) {
      sodium_memzero(keys_.back().key.data(), kKeyBytes);
      keys_.pop_back();
    }
    return true;
  }

  void Clear() {
    std::lock_guard<std::mutex> lock(mutex_);
    for (auto& k : keys_) sodium_memzero(k.key.data(), k.key.size());
    keys_.clear();
  }

 private:
  // A keyed hash of the password under a secret drawn at start-up: lets the
  // cache tell passwords apart without keeping them.
  void PasswordTag(const std::string& password, std::array<uint8_t, crypto_generichash_BYTES>* tag) {
    if (!secret_ready_) {
      randombytes_buf(secret_.data(), secret_.size());
      secret_ready_ = true;
    }
    crypto_generichash(tag->data(), tag->size(), reinterpret_cast<const uint8_t*>(password.data()),
                       password.size(), secret_.data(), secret_.size());
  }

  std::mutex mutex_;
  std::list<DerivedKey> keys_;
  std::array<uint8_t, crypto_generichash_KEYBYTES> secret_{};
  bool secret_ready_ = false;
};

KeyCache& Keys() {
  static KeyCache cache;
  return cache;
}

void KeyCheck(const std::array<uint8_t, kKeyBytes>& key, std::array<uint8_t, kSealKeyCheckBytes>* check) {
  crypto_generichash(check->data(), check->size(), reinterpret_cast<const uint8_t*>(kKeyCheckText),
                     sizeof(kKeyCheckText) - 1, key.data(), key.size());
}

// ---- decryption --------------------------------------------------------------

Status KeepTemporariesInMemory(sqlite3* db, const std::string& path);

// The table key of `layout` for `password`, checked against the header's key
// check; wiped by the caller.
Status TableKey(const SealedLayout& layout, const std::string& password, const std::string& path,
                std::array<uint8_t, kKeyBytes>* key) {
  if (!Keys().Get(layout, password, key)) return Refused(FileError(path, "the key derivation ran out of memory"));
  std::array<uint8_t, kSealKeyCheckBytes> check{};
  KeyCheck(*key, &check);
  if (sodium_memcmp(check.data(), layout.key_check.data(), check.size()) != 0) {
    sodium_memzero(key->data(), key->size());
    return Refused(FileError(path, "wrong table password (or a damaged header)"));
  }
  return Status();
}

// The header tag of a version 2 file: its first `layout.tagged_bytes` bytes
// `header`, keyed with the table key.
void HeaderTag(std::string_view header, const std::array<uint8_t, kKeyBytes>& key,
               std::array<uint8_t, kSealHeaderTagBytes>* tag) {
  crypto_generichash(tag->data(), tag->size(), reinterpret_cast<const uint8_t*>(header.data()), header.size(),
                     key.data(), key.size());
}

// Reads and checks the header of the sealed file `path` (only the header is
// read); `*header` gets its bytes.
Status ReadLayout(const std::string& path, SealedLayout* layout, std::string* header) {
  uint64_t file_size = 0;
  if (Status read = ReadFilePrefix(path, kHeaderReadAhead, header, &file_size); !read.ok()) return read;
  if (Status parsed = ParseSealedLayout(*header, false, path, layout); !parsed.ok()) {
    if (header->size() == file_size) return parsed;
    if (Status read = ReadSealedBytes(path, header); !read.ok()) return read;
    file_size = header->size();
    if (Status reparsed = ParseSealedLayout(*header, false, path, layout); !reparsed.ok()) return reparsed;
  }
  return CheckSealedLength(*layout, file_size, path);
}

// What reading the pages of a version 2 file needs, its header authenticated
// under the key of `password`.
Status PagesOf(const std::string& path, const std::string& password, PageGeometry* geometry) {
  if (Status ready = SodiumReady(AE_KDX_SEALED_REFUSED); !ready.ok()) return ready;
  SealedLayout layout;
  std::string header;
  if (Status read = ReadLayout(path, &layout, &header); !read.ok()) return read;
  std::array<uint8_t, kKeyBytes> key{};
  if (Status keyed = TableKey(layout, password, path, &key); !keyed.ok()) return keyed;
  std::array<uint8_t, kSealHeaderTagBytes> tag{};
  HeaderTag(std::string_view(header).substr(0, layout.tagged_bytes), key, &tag);
  if (sodium_memcmp(tag.data(), layout.header_tag.data(), tag.size()) != 0) {
    sodium_memzero(key.data(), key.size());
    return Refused(FileError(path, "damaged: the header fails authentication"));
  }
  std::memcpy(geometry->key.data(), key.data(), key.size());
  sodium_memzero(key.data(), key.size());
  std::memcpy(geometry->identity.data(), layout.nonce.data(), geometry->identity.size());
  geometry->page_size = layout.page_size;
  geometry->pages = layout.pages;
  geometry->data_offset = layout.header_bytes;
  return Status();
}

// Whether `path` is a sealed file of version 2 (page by page).
bool IsPagedFile(const std::string& path) {
  std::string prefix;
  uint64_t size = 0;
  if (!ReadFilePrefix(path, kSealFixedHeaderBytes, &prefix, &size).ok() || prefix.size() < 10) return false;
  return static_cast<uint8_t>(prefix[8]) == kSealVersionPages && prefix[9] == 0;
}

// Authenticates every page of the version 2 file `path` whose pages
// `geometry` describes, one page in memory at a time.
Status VerifyEveryPage(const std::string& path, const PageGeometry& geometry) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  Status result = fd >= 0 ? Status() : Refused("Cannot open " + Quoted(path) + ": " + std::strerror(errno));
  const uint64_t slot_bytes = PageSlotBytes(geometry.page_size);
  std::vector<uint8_t> slot(slot_bytes);
  std::vector<uint8_t> plain(geometry.page_size);
  for (uint64_t page = 1; result.ok() && page <= geometry.pages; ++page) {
    const off_t at = static_cast<off_t>(geometry.data_offset + (page - 1) * slot_bytes);
    if (::pread(fd, slot.data(), slot.size(), at) != static_cast<ssize_t>(slot.size())) {
      result = Refused(FileError(path, "page " + std::to_string(page) + " cannot be read"));
    } else if (!OpenPage(geometry, page, slot.data(), plain.data())) {
      result = Refused(FileError(path, "damaged: page " + std::to_string(page) + " fails authentication"));
    }
  }
  if (fd >= 0) ::close(fd);
  sodium_memzero(plain.data(), plain.size());
  return result;
}

// Opens the version 2 file `path` through the pages VFS as `*db` (a fresh
// connection) or, with `db` holding one, attaches it as `schema`.
Status OpenPaged(const std::string& path, const std::string& password, sqlite3** db, const std::string& schema) {
  PageGeometry geometry;
  if (Status pages = PagesOf(path, password, &geometry); !pages.ok()) return pages;
  // Every page is authenticated before the first row is read, as version 1
  // authenticates its whole image: a damaged table gives no row at all. A
  // page changed after that is still caught when it is read.
  if (Status checked = VerifyEveryPage(path, geometry); !checked.ok()) {
    sodium_memzero(geometry.key.data(), geometry.key.size());
    return checked;
  }
  const std::unique_ptr<SealedPagesReading> reading = RegisterSealedPages(path, geometry);
  sodium_memzero(geometry.key.data(), geometry.key.size());
  // The open file holds the registration from here on.
  if (*db == nullptr) {
    if (sqlite3_open_v2(reading->uri().c_str(), db, SQLITE_OPEN_READONLY | SQLITE_OPEN_URI | SQLITE_OPEN_NOMUTEX,
                        nullptr) != SQLITE_OK) {
      Status failed = SqliteError(AE_KDX_SEALED_REFUSED, "Sealed table file " + Quoted(path), *db);
      sqlite3_close(*db);
      *db = nullptr;
      return failed;
    }
  } else {
    char* sql = sqlite3_mprintf("ATTACH DATABASE %Q AS \"%w\"", reading->uri().c_str(), schema.c_str());
    const int rc = sql == nullptr ? SQLITE_NOMEM : sqlite3_exec(*db, sql, nullptr, nullptr, nullptr);
    sqlite3_free(sql);
    if (rc != SQLITE_OK) return SqliteError(AE_KDX_SEALED_REFUSED, "Sealed table file " + Quoted(path), *db);
  }
  if (Status kept = KeepTemporariesInMemory(*db, path); !kept.ok()) return kept;
  char* check = sqlite3_mprintf("SELECT count(*) FROM \"%w\".sqlite_schema", schema.c_str());
  const int rc = check == nullptr ? SQLITE_NOMEM : sqlite3_exec(*db, check, nullptr, nullptr, nullptr);
  sqlite3_free(check);
  if (rc != SQLITE_OK) return SqliteError(AE_KDX_SEALED_REFUSED, "Sealed table file " + Quoted(path), *db);
  return Status();
}

// Decrypts every page of the version 2 file `path` into `*image` (from
// sqlite3_malloc64; ownership passes to the caller).
Status DecryptPages(const std::string& path, const std::string& password, uint8_t** image, size_t* image_size) {
  PageGeometry geometry;
  if (Status pages = PagesOf(path, password, &geometry); !pages.ok()) return pages;
  std::string data;
  Status result = ReadSealedBytes(path, &data);
  const size_t size = static_cast<size_t>(geometry.pages * geometry.page_size);
  auto* plain = result.ok() ? static_cast<uint8_t*>(sqlite3_malloc64(size)) : nullptr;
  if (result.ok() && plain == nullptr) result = Refused(FileError(path, "out of memory for the decrypted table"));
  const uint64_t slot = PageSlotBytes(geometry.page_size);
  for (uint64_t page = 1; result.ok() && page <= geometry.pages; ++page) {
    const auto* at = reinterpret_cast<const uint8_t*>(data.data()) + geometry.data_offset + (page - 1) * slot;
    if (!OpenPage(geometry, page, at, plain + (page - 1) * geometry.page_size)) {
      result = Refused(FileError(path, "damaged: page " + std::to_string(page) + " fails authentication"));
    }
  }
  sodium_memzero(geometry.key.data(), geometry.key.size());
  if (!result.ok()) {
    if (plain != nullptr) sodium_memzero(plain, size);
    sqlite3_free(plain);
    return result;
  }
  *image = plain;
  *image_size = size;
  return Status();
}

// Reads, checks and decrypts the sealed file at `path` into a buffer from
// sqlite3_malloc64 (ownership passes to the caller).
Status DecryptFile(const std::string& path, const std::string& password, uint8_t** image, size_t* image_size) {
  if (IsPagedFile(path)) return DecryptPages(path, password, image, image_size);
  if (Status ready = SodiumReady(AE_KDX_SEALED_REFUSED); !ready.ok()) return ready;
  std::string data;
  if (Status read = ReadSealedBytes(path, &data); !read.ok()) return read;
  SealedLayout layout;
  if (Status parsed = ParseSealedLayout(data, true, path, &layout); !parsed.ok()) return parsed;
  std::array<uint8_t, kKeyBytes> key{};
  if (!Keys().Get(layout, password, &key)) return Refused(FileError(path, "the key derivation ran out of memory"));
  std::array<uint8_t, kSealKeyCheckBytes> check{};
  KeyCheck(key, &check);
  if (sodium_memcmp(check.data(), layout.key_check.data(), check.size()) != 0) {
    sodium_memzero(key.data(), key.size());
    return Refused(FileError(path, "wrong table password (or a damaged header)"));
  }
  const size_t plain_size = static_cast<size_t>(layout.cipher_bytes) - kSealTagBytes;
  auto* plain = static_cast<uint8_t*>(sqlite3_malloc64(plain_size == 0 ? 1 : plain_size));
  if (plain == nullptr) {
    sodium_memzero(key.data(), key.size());
    return Refused(FileError(path, "out of memory for the decrypted table"));
  }
  const auto* bytes = reinterpret_cast<const uint8_t*>(data.data());
  const SealedCipher sealed{bytes + layout.header_bytes, static_cast<size_t>(layout.cipher_bytes), bytes,
                            layout.header_bytes, layout.nonce.data()};
  size_t plain_length = 0;
  const bool decrypted = DecryptSealed(sealed, key.data(), plain, &plain_length);
  sodium_memzero(key.data(), key.size());
  if (!decrypted) {
    sqlite3_free(plain);
    return Refused(FileError(path, "damaged: the encrypted contents or the header fail authentication"));
  }
  *image = plain;
  *image_size = plain_length;
  return Status();
}

// Loads `image` (from sqlite3_malloc64; always taken over) into schema
// `schema` of `db`, read-only, and checks that it reads as a database.
Status LoadImage(sqlite3* db, const std::string& schema, uint8_t* image, size_t size, const std::string& path) {
  int rc = sqlite3_deserialize(db, schema.c_str(), image, static_cast<sqlite3_int64>(size),
                               static_cast<sqlite3_int64>(size),
                               SQLITE_DESERIALIZE_FREEONCLOSE | SQLITE_DESERIALIZE_READONLY);
  if (rc != SQLITE_OK) {
    return Refused(FileError(path, std::string("the decrypted table cannot be loaded: ") + sqlite3_errmsg(db)));
  }
  char* quoted = sqlite3_mprintf("SELECT count(*) FROM \"%w\".sqlite_schema", schema.c_str());
  rc = quoted == nullptr ? SQLITE_NOMEM : sqlite3_exec(db, quoted, nullptr, nullptr, nullptr);
  sqlite3_free(quoted);
  if (rc != SQLITE_OK) {
    return Refused(FileError(path, std::string("the decrypted table is not a valid database: ") + sqlite3_errmsg(db)));
  }
  return Status();
}

// Keeps the temporary tables SQLite makes while sorting or indexing the
// rows of `db` in memory: decrypted rows must not spill to disk.
Status KeepTemporariesInMemory(sqlite3* db, const std::string& path) {
  if (sqlite3_exec(db, "PRAGMA temp_store=MEMORY", nullptr, nullptr, nullptr) != SQLITE_OK) {
    return Refused(FileError(path, std::string("cannot keep its sorting in memory: ") + sqlite3_errmsg(db)));
  }
  return Status();
}

Status OpenMemoryDatabase(sqlite3** db, const std::string& path) {
  sqlite3* mem = nullptr;
  // Used only by the engine, under its mutex: SQLite's own mutex is not needed.
  if (sqlite3_open_v2(":memory:", &mem, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX, nullptr) !=
      SQLITE_OK) {
    Status failed = Refused(FileError(path, std::string("cannot open an in-memory database: ") +
                                                (mem ? sqlite3_errmsg(mem) : "out of memory")));
    sqlite3_close(mem);
    return failed;
  }
  if (Status kept = KeepTemporariesInMemory(mem, path); !kept.ok()) {
    sqlite3_close(mem);
    return kept;
  }
  *db = mem;
  return Status();
}

}  // namespace

Status ReadSealedFileHeader(const std::string& path, SealedHeader* header) {
  // Only the header is read (opening a table costs nothing proportional to
  // its size); the file's length is checked against it.
  std::string data;
  uint64_t file_size = 0;
  if (Status read = ReadFilePrefix(path, kHeaderReadAhead, &data, &file_size); !read.ok()) return read;
  SealedLayout layout;
  if (Status parsed = ParseSealedLayout(data, false, path, &layout); !parsed.ok()) {
    if (data.size() == file_size) return parsed;
    if (Status read = ReadSealedBytes(path, &data); !read.ok()) return read;
    file_size = data.size();
    if (Status reparsed = ParseSealedLayout(data, false, path, &layout); !reparsed.ok()) return reparsed;
  }
  if (Status length = CheckSealedLength(layout, file_size, path); !length.ok()) return length;
  header->schema_sql = std::move(layout.schema_sql);
  return Status();
}

Status OpenSealedSchemaDatabase(const SealedHeader& header, sqlite3** db) {
  sqlite3* mem = nullptr;
  if (Status opened = OpenMemoryDatabase(&mem, "(schema)"); !opened.ok()) return opened;
  for (const std::string& sql : header.schema_sql) {
    // One statement at a time, and only table and index definitions: the
    // clear header is not trusted until the contents are decrypted.
    sqlite3_stmt* stmt = nullptr;
    const char* tail = nullptr;
    int rc = IsSchemaStatement(sql) ? sqlite3_prepare_v2(mem, sql.c_str(), -1, &stmt, &tail) : SQLITE_ERROR;
    bool ok = rc == SQLITE_OK && stmt != nullptr;
    if (ok) ok = OnlyBlanksAfterStatement(tail);
    if (ok) ok = sqlite3_step(stmt) == SQLITE_DONE;
    std::string detail = sqlite3_errmsg(mem);
    sqlite3_finalize(stmt);
    if (!ok) {
      sqlite3_close(mem);
      return Refused("Sealed table schema statement cannot be used: " + sql.substr(0, 200) + " (" + detail + ")");
    }
  }
  *db = mem;
  return Status();
}

Status OpenSealedDatabase(const std::string& path, const std::string& password, sqlite3** db) {
  if (IsPagedFile(path)) {
    sqlite3* paged = nullptr;
    if (Status opened = OpenPaged(path, password, &paged, "main"); !opened.ok()) {
      sqlite3_close(paged);
      return opened;
    }
    *db = paged;
    return Status();
  }
  uint8_t* image = nullptr;
  size_t size = 0;
  if (Status decrypted = DecryptFile(path, password, &image, &size); !decrypted.ok()) return decrypted;
  sqlite3* mem = nullptr;
  if (Status opened = OpenMemoryDatabase(&mem, path); !opened.ok()) {
    sodium_memzero(image, size);
    sqlite3_free(image);
    return opened;
  }
  if (Status loaded = LoadImage(mem, "main", image, size, path); !loaded.ok()) {
    sqlite3_close(mem);
    return loaded;
  }
  *db = mem;
  return Status();
}

Status AttachSealedImage(sqlite3* db, const std::string& schema, const std::string& path,
                         const std::string& password) {
  if (IsPagedFile(path)) {
    if (sqlite3_db_filename(db, schema.c_str()) != nullptr) {
      char* sql = sqlite3_mprintf("DETACH DATABASE \"%w\"", schema.c_str());
      const int rc = sql == nullptr ? SQLITE_NOMEM : sqlite3_exec(db, sql, nullptr, nullptr, nullptr);
      sqlite3_free(sql);
      if (rc != SQLITE_OK) return SqliteError(AE_KDX_SEALED_REFUSED, "Sealed table file " + Quoted(path), db);
    }
    return OpenPaged(path, password, &db, schema);
  }
  uint8_t* image = nullptr;
  size_t size = 0;
  if (Status decrypted = DecryptFile(path, password, &image, &size); !decrypted.ok()) return decrypted;
  auto discard = [&](Status failed) {
    sodium_memzero(image, size);
    sqlite3_free(image);
    return failed;
  };
  if (Status kept = KeepTemporariesInMemory(db, path); !kept.ok()) return discard(std::move(kept));
  if (sqlite3_db_filename(db, schema.c_str()) == nullptr) {
    char* sql = sqlite3_mprintf("ATTACH DATABASE ':memory:' AS \"%w\"", schema.c_str());
    const int rc = sql == nullptr ? SQLITE_NOMEM : sqlite3_exec(db, sql, nullptr, nullptr, nullptr);
    sqlite3_free(sql);
    if (rc != SQLITE_OK) {
      return discard(Refused(FileError(path, "cannot attach it as " + schema + ": " + sqlite3_errmsg(db))));
    }
  }
  return LoadImage(db, schema, image, size, path);
}

namespace {

// Reads the rows of a plain table file's schema statements, refusing what a
// sealed table cannot carry.
Status ReadTableSchema(sqlite3* db, const std::string& path, std::vector<std::string>* schema) {
  auto fail = [&](const std::string& reason) { return Refused("Table file " + Quoted(path) + ": " + reason); };
  const char* query =
      "SELECT type, name, sql FROM sqlite_schema WHERE name NOT LIKE 'sqlite\\_%' ESCAPE '\\' "
      "ORDER BY type <> 'table', rowid";
  Statement stmt;
  if (sqlite3_prepare_v2(db, query, -1, stmt.out(), nullptr) != SQLITE_OK) {
    return fail(std::string("not an SQLite table file: ") + sqlite3_errmsg(db));
  }
  int tables = 0;
  int rc;
  while ((rc = sqlite3_step(stmt.get())) == SQLITE_ROW) {
    const std::string type = reinterpret_cast<const char*>(sqlite3_column_text(stmt.get(), 0));
    const std::string name = reinterpret_cast<const char*>(sqlite3_column_text(stmt.get(), 1));
    const char* sql = reinterpret_cast<const char*>(sqlite3_column_text(stmt.get(), 2));
    if (type == "index" && sql == nullptr) continue;  // SQLite's own index of a constraint
    if ((type != "table" && type != "index") || sql == nullptr || !IsSchemaStatement(sql)) {
      return fail("holds " + type + " " + name + ", which a sealed table cannot carry");
    }
    if (type == "table") ++tables;
    schema->push_back(sql);
  }
  if (rc != SQLITE_DONE) return fail(std::string("not an SQLite table file: ") + sqlite3_errmsg(db));
  if (tables == 0) return fail("holds no table");
  return Status();
}

// Takes the plain table file open as `db` out of write-ahead logging: a log
// left next to the sealed file would keep rows in clear, and SQLite does not
// clean up the log of a file that was renamed while open.
Status LeaveWriteAheadLog(sqlite3* db, const std::string& path) {
  auto fail = [&](const std::string& reason) { return Refused("Table file " + Quoted(path) + ": " + reason); };
  Statement stmt;
  if (sqlite3_prepare_v2(db, "PRAGMA journal_mode=DELETE", -1, stmt.out(), nullptr) != SQLITE_OK) {
    return fail(std::string("not an SQLite table file: ") + sqlite3_errmsg(db));
  }
  const int rc = sqlite3_step(stmt.get());
  const unsigned char* text = rc == SQLITE_ROW ? sqlite3_column_text(stmt.get(), 0) : nullptr;
  const std::string mode = text != nullptr ? reinterpret_cast<const char*>(text) : "";
  if (rc == SQLITE_NOTADB) return fail(std::string("not an SQLite table file: ") + sqlite3_errmsg(db));
  if (rc != SQLITE_ROW || mode != "delete") {
    return fail("cannot take it out of write-ahead-log mode; is another program using it? (" +
                std::string(sqlite3_errmsg(db)) + ")");
  }
  return Status();
}

// Reads a plain table file's image and schema inside an IMMEDIATE
// transaction, so no other writer can change it until `*db_out` is closed.
Status ReadPlainTable(const std::string& path, sqlite3** db_out, std::string* image, std::vector<std::string>* schema) {
  sqlite3* db = nullptr;
  auto fail = [&](Status failed) {
    sqlite3_close(db);
    return failed;
  };
  auto reason = [&](const std::string& why) { return fail(Refused("Table file " + Quoted(path) + ": " + why)); };
  if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK) {
    return reason(std::string("cannot open: ") + (db ? sqlite3_errmsg(db) : "out of memory"));
  }
  sqlite3_busy_timeout(db, kBusyTimeoutMs);  // never fails on an open handle
  if (Status left = LeaveWriteAheadLog(db, path); !left.ok()) return fail(std::move(left));
  if (sqlite3_exec(db, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr) != SQLITE_OK) {
    return reason(std::string("cannot lock it: ") + sqlite3_errmsg(db));
  }
  if (Status read = ReadTableSchema(db, path, schema); !read.ok()) return fail(std::move(read));
  sqlite3_int64 size = 0;
  unsigned char* bytes = sqlite3_serialize(db, "main", &size, 0);
  if (bytes == nullptr) return reason(std::string("cannot read its image: ") + sqlite3_errmsg(db));
  image->assign(reinterpret_cast<const char*>(bytes), static_cast<size_t>(size));
  sodium_memzero(bytes, static_cast<size_t>(size));
  sqlite3_free(bytes);
  // A WAL-mode image is marked as a rollback-journal one: the image is read
  // from memory, where write-ahead logging cannot work.
  if (image->size() >= 20 && (*image)[18] == 2 && (*image)[19] == 2) {
    (*image)[18] = 1;
    (*image)[19] = 1;
  }
  *db_out = db;
  return Status();
}

// Ends the transaction of ReadPlainTable (a read-only one: nothing to keep)
// and closes the file.
void CloseLocked(sqlite3* db) {
  (void)sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);  // closing rolls back all the same
  sqlite3_close(db);
}

// The header fields both versions share, up to the schema statements: those
// of `layout` (whose key check is set from `key`) with `schema`.
std::string HeaderStart(uint16_t version, SealedLayout* layout, const std::array<uint8_t, kKeyBytes>& key,
                        const std::vector<std::string>& schema) {
  KeyCheck(key, &layout->key_check);
  std::string header(kSealMarker, sizeof(kSealMarker));
  Put16(&header, version);
  Put16(&header, kSealKdfArgon2id13);
  Put32(&header, layout->passes);
  Put32(&header, layout->memory_kib);
  header.append(reinterpret_cast<const char*>(layout->salt.data()), layout->salt.size());
  header.append(reinterpret_cast<const char*>(layout->nonce.data()), layout->nonce.size());
  header.append(reinterpret_cast<const char*>(layout->key_check.data()), layout->key_check.size());
  Put32(&header, static_cast<uint32_t>(schema.size()));
  for (const std::string& sql : schema) {
    Put32(&header, static_cast<uint32_t>(sql.size()));
    header += sql;
  }
  return header;
}

// The sealed file's bytes in version 1: the header, then `image` encrypted.
std::string SealedBytes(SealedLayout* layout, const std::array<uint8_t, kKeyBytes>& key,
                        const std::vector<std::string>& schema, const std::string& image) {
  std::string header = HeaderStart(kSealVersion, layout, key, schema);
  Put64(&header, image.size() + kSealTagBytes);
  std::string file = header;
  file.resize(header.size() + image.size() + kSealTagBytes);
  auto* out = reinterpret_cast<uint8_t*>(file.data()) + header.size();
  unsigned long long out_len = 0;
  // Encryption cannot fail for a buffer of the right size.
  (void)crypto_aead_xchacha20poly1305_ietf_encrypt(out, &out_len, reinterpret_cast<const uint8_t*>(image.data()),
                                                   image.size(), reinterpret_cast<const uint8_t*>(header.data()),
                                                   header.size(), nullptr, layout->nonce.data(), key.data());
  return file;
}

// A version 2 file: the clear header (a fresh identity in the nonce's
// place), its tag, then every page of `image` sealed on its own.
Status SealedPagedBytes(SealedLayout* layout, const std::array<uint8_t, kKeyBytes>& key,
                        const std::vector<std::string>& schema, const std::string& image, const std::string& path,
                        std::string* file) {
  PageGeometry geometry;
  geometry.page_size = ImagePageSize(image);
  if (geometry.page_size == 0) return Refused(FileError(path, "its image is no whole number of database pages"));
  geometry.pages = image.size() / geometry.page_size;
  std::string header = HeaderStart(kSealVersionPages, layout, key, schema);
  Put32(&header, geometry.page_size);
  Put64(&header, geometry.pages);
  std::array<uint8_t, kSealHeaderTagBytes> tag{};
  HeaderTag(header, key, &tag);
  header.append(reinterpret_cast<const char*>(tag.data()), tag.size());
  std::memcpy(geometry.key.data(), key.data(), key.size());
  std::memcpy(geometry.identity.data(), layout->nonce.data(), geometry.identity.size());
  geometry.data_offset = header.size();
  *file = std::move(header);
  Status sealed = SealPages(geometry, image, file);
  sodium_memzero(geometry.key.data(), geometry.key.size());
  return sealed;
}

// A fresh salt and identity (or nonce) in `layout`, with the parameters
// kdx-db seal writes, and the key they give `password`.
Status FreshKey(const std::string& path, const std::string& password, SealedLayout* layout,
                std::array<uint8_t, kKeyBytes>* key) {
  layout->passes = kSealPasses;
  layout->memory_kib = kSealMemoryKib;
  randombytes_buf(layout->salt.data(), layout->salt.size());
  randombytes_buf(layout->nonce.data(), layout->nonce.size());
  if (!Keys().Get(*layout, password, key)) return Refused(FileError(path, "the key derivation ran out of memory"));
  return Status();
}

// Writes `image` (a plain table's, with its `schema`) over `path` as a
// sealed file of `version` under `password`.
Status WriteSealed(const std::string& path, const std::string& password, const std::vector<std::string>& schema,
                   const std::string& image, uint16_t version) {
  SealedLayout layout;
  std::array<uint8_t, kKeyBytes> key{};
  if (Status keyed = FreshKey(path, password, &layout, &key); !keyed.ok()) return keyed;
  std::string file;
  Status made = Status();
  if (version == kSealVersionPages) {
    made = SealedPagedBytes(&layout, key, schema, image, path, &file);
  } else {
    file = SealedBytes(&layout, key, schema, image);
  }
  sodium_memzero(key.data(), key.size());
  if (!made.ok()) return made;
  return ReplaceFile(path, reinterpret_cast<const uint8_t*>(file.data()), file.size());
}

// Seals the plain table file `path` in `version`: 2, page by page, as
// kdx-db seal does; 1, the whole image in one ciphertext.
Status Seal(const std::string& path, const std::string& password, uint16_t version) {
  if (Status ready = SodiumReady(AE_KDX_SEALED_REFUSED); !ready.ok()) return ready;
  if (password.empty()) return Refused("Table file " + Quoted(path) + ": a table password must not be empty");
  if (IsSealedFile(path)) return Refused("Table file " + Quoted(path) + " is already sealed");
  sqlite3* db = nullptr;
  std::string image;
  std::vector<std::string> schema;
  if (Status read = ReadPlainTable(path, &db, &image, &schema); !read.ok()) return read;
  Status written = WriteSealed(path, password, schema, image, version);
  sodium_memzero(image.data(), image.size());
  CloseLocked(db);
  return written;
}

// Rewrites the version 1 file `path` as version 2, under the same password.
Status Reseal(const std::string& path, const std::string& password) {
  if (!IsSealedFile(path)) return Refused("Table file " + Quoted(path) + " is not sealed");
  if (IsPagedFile(path)) return Refused(FileError(path, "already of format version 2"));
  SealedLayout layout;
  std::string header;
  if (Status read = ReadLayout(path, &layout, &header); !read.ok()) return read;
  uint8_t* image = nullptr;
  size_t size = 0;
  if (Status decrypted = DecryptFile(path, password, &image, &size); !decrypted.ok()) return decrypted;
  std::string plain(reinterpret_cast<const char*>(image), size);
  sodium_memzero(image, size);
  sqlite3_free(image);
  Status written = WriteSealed(path, password, layout.schema_sql, plain, kSealVersionPages);
  sodium_memzero(plain.data(), plain.size());
  return written;
}

// Authenticates every page of the version 2 file `path`, one at a time.
Status VerifyPages(const std::string& path, const std::string& password) {
  PageGeometry geometry;
  if (Status pages = PagesOf(path, password, &geometry); !pages.ok()) return pages;
  Status verified = VerifyEveryPage(path, geometry);
  sodium_memzero(geometry.key.data(), geometry.key.size());
  return verified;
}

Status Unseal(const std::string& path, const std::string& password) {
  if (!IsSealedFile(path)) return Refused("Table file " + Quoted(path) + " is not sealed");
  uint8_t* image = nullptr;
  size_t size = 0;
  if (Status decrypted = DecryptFile(path, password, &image, &size); !decrypted.ok()) return decrypted;
  Status replaced = ReplaceFile(path, image, size);
  sodium_memzero(image, size);
  sqlite3_free(image);
  return replaced;
}

}  // namespace
}  // namespace engine

using namespace engine;

void ForgetSealedKeys() { Keys().Clear(); }

bool IsSealedFile(const std::string& path) {
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  char marker[sizeof(kSealMarker)] = {};
  const ssize_t n = ::read(fd, marker, sizeof(marker));
  ::close(fd);
  return n == static_cast<ssize_t>(sizeof(marker)) && std::memcmp(marker, kSealMarker, sizeof(marker)) == 0;
}

Status ReadSealedHeader(const std::string& path, SealedHeader* header) { return ReadSealedFileHeader(path, header); }

Status OpenSealedSchema(const SealedHeader& header, sqlite3** db) { return OpenSealedSchemaDatabase(header, db); }

Status OpenSealedImage(const std::string& path, const std::string& password, sqlite3** db) {
  return OpenSealedDatabase(path, password, db);
}

Status SealFile(const std::string& path, const std::string& password) {
  return Seal(path, password, kSealVersionPages);
}

Status UnsealFile(const std::string& path, const std::string& password) { return Unseal(path, password); }

Status SealFileVersion1(const std::string& path, const std::string& password) {
  return Seal(path, password, kSealVersion);
}

Status ResealFile(const std::string& path, const std::string& password) { return Reseal(path, password); }

uint16_t SealedFormatVersion(const std::string& path) {
  if (!IsSealedFile(path)) return 0;
  return IsPagedFile(path) ? kSealVersionPages : kSealVersion;
}

Status VerifySealedFile(const std::string& path, const std::string& password) {
  if (!IsPagedFile(path)) {
    // Version 1 authenticates the whole image when it is decrypted.
    uint8_t* image = nullptr;
    size_t size = 0;
    if (Status decrypted = DecryptFile(path, password, &image, &size); !decrypted.ok()) return decrypted;
    sodium_memzero(image, size);
    sqlite3_free(image);
    return Status();
  }
  return VerifyPages(path, password);
}
