// The pages of a sealed table file of format version 2: every database page
// encrypted on its own, and read back through an SQLite VFS that decrypts
// only the pages SQLite asks for, so that memory is bounded by SQLite's page
// cache and not by the size of the table.
//
// A page's slot in the file: a fresh random 24-byte nonce, then the page
// encrypted with XChaCha20-Poly1305 under the table key (the page's bytes,
// then the 16-byte tag). The additional data of page n (1-based, as SQLite
// numbers pages) is the file's own 24-byte random identity followed by n as
// 8 little-endian bytes: a page moved within the file, copied from another
// file or from an older seal of the same table (every seal draws a new
// identity) fails authentication. How many pages there are, their size and
// the identity are in the file's authenticated header, so a file cut at a
// page boundary is refused too.
//
// Reading: RegisterSealedPages makes the key known to the VFS under a token
// and gives the URI to open (read-only, immutable: no journal, no lock, no
// file written); the registration ends with the SealedPagesReading that
// RegisterSealedPages returns, which also wipes its copy of the key. A page
// that fails authentication makes the read fail with an I/O error, and
// TakeSealedPageFailure then says which page of which file.
#ifndef KDX_ENGINE_SEALED_PAGES_H_
#define KDX_ENGINE_SEALED_PAGES_H_

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "engine/status.h"

namespace engine {

inline constexpr size_t kPageKeyBytes = 32;
inline constexpr size_t kPageIdentityBytes = 24;
inline constexpr size_t kPageNonceBytes = 24;
inline constexpr size_t kPageTagBytes = 16;

// What reading or writing the pages of one file needs.
struct PageGeometry {
  std::array<uint8_t, kPageKeyBytes> key{};
  std::array<uint8_t, kPageIdentityBytes> identity{};
  uint32_t page_size = 0;    // SQLite's page size of the image, 512 to 65536
  uint64_t pages = 0;        // how many pages the image has
  uint64_t data_offset = 0;  // where the first slot starts in the file
};

// Bytes one page takes in the file: nonce, encrypted page, tag.
inline uint64_t PageSlotBytes(uint32_t page_size) { return kPageNonceBytes + page_size + kPageTagBytes; }

// The page size an SQLite image declares in its header (bytes 16-17), or 0
// when `image` is no whole number of such pages.
uint32_t ImagePageSize(std::string_view image);

// Appends the slots of every page of `image` (a whole number of
// `geometry.page_size` pages; geometry.pages must match) to `out`, each with
// a fresh random nonce.
Status SealPages(const PageGeometry& geometry, std::string_view image, std::string* out);

// Decrypts page `page` (1-based) from its `slot` into `plain`
// (geometry.page_size bytes); false when it fails authentication.
[[nodiscard]] bool OpenPage(const PageGeometry& geometry, uint64_t page, const uint8_t* slot, uint8_t* plain);

// A registration of one file's pages with the VFS; ends, wiping the key,
// when destroyed.
class SealedPagesReading {
 public:
  virtual ~SealedPagesReading() = default;
  // The URI that opens the file through the VFS, read-only and immutable.
  virtual const std::string& uri() const = 0;
};

// Registers the file `path` whose pages `geometry` describes.
std::unique_ptr<SealedPagesReading> RegisterSealedPages(const std::string& path, const PageGeometry& geometry);

// After a read through the VFS failed on this thread: whether a page failed
// authentication (cleared by the call); `*text` names the file and page.
bool TakeSealedPageFailure(std::string* text);

}  // namespace engine

#endif  // KDX_ENGINE_SEALED_PAGES_H_
