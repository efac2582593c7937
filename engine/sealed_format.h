// The byte layout of a sealed table file, parsed without touching the disk or
// any key. Used by sealed_file.cpp, by `kdx-db info` and by the header fuzz
// target; engine/sealed_file.h is the interface the rest of the engine uses.
//
// Layout (integers little-endian):
//   0   8  marker "KDXSEAL\0"
//   8   2  format version (1: the table's image in one ciphertext; 2: page
//           by page, engine/sealed_pages.h)
//   10  2  key derivation: 1 = Argon2id v1.3
//   12  4  passes (opslimit), from kSealMinPasses to kSealMaxPasses
//   16  4  memory in KiB, from kSealMinMemoryKib to kSealMaxMemoryKib
//   20 16  salt (random per seal)
//   36 24  version 1: XChaCha20-Poly1305 nonce (random per seal);
//           version 2: the file's identity (random per seal), which the
//           additional data of every page starts with
//   60 16  key check: BLAKE2b-128 of a fixed text keyed with the derived key
//   76  4  number of schema statements n (CREATE TABLE first, then CREATE INDEX)
//   80     n times: 4-byte length, then the statement's UTF-8 text
//   version 1:
//       8  length of the encrypted image in bytes (image + 16-byte tag)
//  ---- end of header: all of the above is the additional data of the cipher
//          the encrypted SQLite image; the file ends exactly after it.
//   version 2:
//       4  page size of the image (512 to 65536, a power of two)
//       8  number of pages (at least 1)
//      16  header tag: BLAKE2b-128 of every byte above, keyed with the key
//  ---- end of header
//          the pages' slots, each nonce, encrypted page and tag
//          (sealed_pages.h); the file ends exactly after the last.
#ifndef KDX_ENGINE_SEALED_FORMAT_H_
#define KDX_ENGINE_SEALED_FORMAT_H_

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "engine/status.h"

inline constexpr char kSealMarker[8] = {'K', 'D', 'X', 'S', 'E', 'A', 'L', '\0'};
inline constexpr uint16_t kSealVersion = 1;       // the whole image in one ciphertext
inline constexpr uint16_t kSealVersionPages = 2;  // page by page: what kdx-db seal writes
inline constexpr uint16_t kSealKdfArgon2id13 = 1;
// The least a header may ask for (OWASP's minimum for Argon2id: 19 MiB, 2 passes).
inline constexpr uint32_t kSealMinPasses = 2;
inline constexpr uint32_t kSealMinMemoryKib = 19 * 1024;
// What `kdx-db seal` writes into every header.
inline constexpr uint32_t kSealPasses = kSealMinPasses;
inline constexpr uint32_t kSealMemoryKib = kSealMinMemoryKib;
// The most a header may ask for: what sealing writes. A header asking for
// more was not written by the tool; it is refused as damaged before any key
// is derived, so that such a file cannot hold a run for seconds or minutes
// or exhaust its memory.
inline constexpr uint32_t kSealMaxPasses = kSealPasses;
inline constexpr uint32_t kSealMaxMemoryKib = kSealMemoryKib;
// Limits on the clear schema part.
inline constexpr uint32_t kSealMaxSchemaStatements = 1024;
inline constexpr uint32_t kSealMaxStatementBytes = 1 << 20;
inline constexpr size_t kSealFixedHeaderBytes = 80;
inline constexpr size_t kSealSaltBytes = 16;
inline constexpr size_t kSealNonceBytes = 24;
inline constexpr size_t kSealKeyCheckBytes = 16;
inline constexpr size_t kSealTagBytes = 16;
inline constexpr size_t kSealHeaderTagBytes = 16;
// The most pages a version 2 header may announce (64 TiB of 64 KiB pages).
inline constexpr uint64_t kSealMaxPages = uint64_t{1} << 30;

struct SealedLayout {
  uint16_t version = 0;
  uint16_t kdf = 0;
  uint32_t passes = 0;
  uint32_t memory_kib = 0;
  std::array<uint8_t, kSealSaltBytes> salt{};
  std::array<uint8_t, kSealNonceBytes> nonce{};  // version 2: the file's identity
  std::array<uint8_t, kSealKeyCheckBytes> key_check{};
  std::vector<std::string> schema_sql;
  size_t header_bytes = 0;   // offset of the encrypted image (version 2: of the first page's slot)
  uint64_t cipher_bytes = 0; // version 1: encrypted image with its tag
  // Version 2:
  uint32_t page_size = 0;
  uint64_t pages = 0;
  std::array<uint8_t, kSealHeaderTagBytes> header_tag{};
  size_t tagged_bytes = 0;   // the header bytes the tag covers (all before it)
};

// Parses the header from the file's bytes `data` (the whole file when
// `whole_file`; then its length must be exactly header + encrypted image).
// AE_KDX_SEALED_REFUSED "Sealed table file '<name>': <reason>" when the
// marker, version, key derivation parameters, schema statements or lengths
// are wrong. Never reads outside `data`.
engine::Status ParseSealedLayout(std::string_view data, bool whole_file, const std::string& name,
                                 SealedLayout* layout);

// Whether a file of `file_size` bytes is exactly as long as `layout` says;
// AE_KDX_SEALED_REFUSED naming a truncated or overlong file.
engine::Status CheckSealedLength(const SealedLayout& layout, uint64_t file_size, const std::string& name);

// Whether `sql` is one CREATE TABLE or CREATE [UNIQUE] INDEX statement and
// nothing else (a sealed header may only carry those).
bool IsSchemaStatement(std::string_view sql);

// Whether `tail`, what follows a statement, holds nothing but blanks,
// comments and at most one ';'.
bool OnlyBlanksAfterStatement(std::string_view tail);


#endif  // KDX_ENGINE_SEALED_FORMAT_H_
