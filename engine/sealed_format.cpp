// The byte layout of sealed table files: parsing and checking a header.
#include "engine/sealed_format.h"

#include <cctype>
#include <cstring>

#include "engine/record_format.h"
#include "engine/sql_codes.h"

namespace {

using record_format::Get16;
using record_format::Get32;

uint64_t Get64(const uint8_t* p) {
  return static_cast<uint64_t>(Get32(p)) | (static_cast<uint64_t>(Get32(p + 4)) << 32);
}

std::string FileError(const std::string& path, const std::string& reason) {
  return "Sealed table file '" + path + "': " + reason;
}

// Every fault of a header is one code: the table cannot be read.
engine::Status Refused(std::string text) { return engine::Status(AE_KDX_SEALED_REFUSED, std::move(text)); }

bool SkipSpaceAndComments(std::string_view s, size_t* i) {
  while (*i < s.size()) {
    const char c = s[*i];
    if (c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f' || c == '\v') {
      ++*i;
    } else if (s.compare(*i, 2, "--") == 0) {
      while (*i < s.size() && s[*i] != '\n') ++*i;
    } else if (s.compare(*i, 2, "/*") == 0) {
      const size_t end = s.find("*/", *i + 2);
      if (end == std::string_view::npos) return false;
      *i = end + 2;
    } else {
      break;
    }
  }
  return true;
}

bool TakeWord(std::string_view s, size_t* i, std::string_view word) {
  if (!SkipSpaceAndComments(s, i)) return false;
  if (s.size() - *i < word.size()) return false;
  for (size_t k = 0; k < word.size(); ++k) {
    char c = s[*i + k];
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    if (c != word[k]) return false;
  }
  const size_t end = *i + word.size();
  if (end < s.size()) {
    const char next = s[end];
    if ((next >= 'A' && next <= 'Z') || (next >= 'a' && next <= 'z') || (next >= '0' && next <= '9') ||
        next == '_')
      return false;
  }
  *i = end;
  return true;
}

bool IsCreateTable(std::string_view sql) {
  size_t i = 0;
  return TakeWord(sql, &i, "CREATE") && TakeWord(sql, &i, "TABLE");
}

}  // namespace

bool OnlyBlanksAfterStatement(std::string_view tail) {
  size_t i = 0;
  if (!SkipSpaceAndComments(tail, &i)) return false;
  if (i == tail.size()) return true;
  if (tail[i] != ';') return false;
  ++i;
  return SkipSpaceAndComments(tail, &i) && i == tail.size();
}

// ---- layout ------------------------------------------------------------------

bool IsSchemaStatement(std::string_view sql) {
  if (sql.find('\0') != std::string_view::npos) return false;
  size_t i = 0;
  if (!TakeWord(sql, &i, "CREATE")) return false;
  size_t j = i;
  if (TakeWord(sql, &j, "TABLE")) return true;
  j = i;
  if (TakeWord(sql, &j, "UNIQUE")) i = j;
  return TakeWord(sql, &i, "INDEX");
}

namespace {

// The fixed 80 bytes: marker, version, key derivation, salt, nonce, key check.
engine::Status ParseFixedHeader(std::string_view data, const std::string& name, SealedLayout* out) {
  const auto* p = reinterpret_cast<const uint8_t*>(data.data());
  if (data.size() < sizeof(kSealMarker) || std::memcmp(p, kSealMarker, sizeof(kSealMarker)) != 0) {
    return Refused(FileError(name, "not a sealed table file (marker missing)"));
  }
  if (data.size() < kSealFixedHeaderBytes) {
    return Refused(FileError(name, "truncated inside its header"));
  }
  out->version = Get16(p + 8);
  out->kdf = Get16(p + 10);
  out->passes = Get32(p + 12);
  out->memory_kib = Get32(p + 16);
  if (out->version != kSealVersion && out->version != kSealVersionPages) {
    return Refused(FileError(name, "unknown format version " + std::to_string(out->version)));
  }
  if (out->kdf != kSealKdfArgon2id13) {
    return Refused(FileError(name, "unknown key derivation " + std::to_string(out->kdf)));
  }
  if (out->passes < kSealMinPasses || out->memory_kib < kSealMinMemoryKib) {
    return Refused(FileError(name, "refused: its key derivation (" + std::to_string(out->passes) + " passes, " +
                                 std::to_string(out->memory_kib) + " KiB) is weaker than the minimum of " +
                                 std::to_string(kSealMinPasses) + " passes and " +
                                 std::to_string(kSealMinMemoryKib) + " KiB"));
  }
  if (out->passes > kSealMaxPasses || out->memory_kib > kSealMaxMemoryKib) {
    return Refused(FileError(name, "damaged header: its key derivation (" + std::to_string(out->passes) + " passes, " +
                                 std::to_string(out->memory_kib) + " KiB) exceeds the maximum of " +
                                 std::to_string(kSealMaxPasses) + " passes and " +
                                 std::to_string(kSealMaxMemoryKib) + " KiB that kdx-db seal writes"));
  }
  std::memcpy(out->salt.data(), p + 20, kSealSaltBytes);
  std::memcpy(out->nonce.data(), p + 36, kSealNonceBytes);
  std::memcpy(out->key_check.data(), p + 60, kSealKeyCheckBytes);
  return engine::Status();
}

// The schema statements after the fixed header; `*at` ends behind them.
engine::Status ParseSchemaStatements(std::string_view data, const std::string& name, SealedLayout* out,
                                     size_t* at_end) {
  const auto* p = reinterpret_cast<const uint8_t*>(data.data());
  const uint32_t count = Get32(p + 76);
  if (count == 0 || count > kSealMaxSchemaStatements) {
    return Refused(FileError(name, "damaged header: " + std::to_string(count) + " schema statements"));
  }
  size_t at = kSealFixedHeaderBytes;
  bool seen_index = false;
  for (uint32_t n = 0; n < count; ++n) {
    if (data.size() - at < 4) {
      return Refused(FileError(name, "truncated inside its header"));
    }
    const uint32_t len = Get32(p + at);
    at += 4;
    if (len > kSealMaxStatementBytes) {
      return Refused(FileError(name, "damaged header: schema statement " + std::to_string(n + 1) + " claims " +
                                   std::to_string(len) + " bytes"));
    }
    if (data.size() - at < len) {
      return Refused(FileError(name, "truncated inside its header"));
    }
    std::string sql(data.substr(at, len));
    at += len;
    const bool is_table = IsCreateTable(sql);
    if (!IsSchemaStatement(sql) || (n == 0 && !is_table) || (is_table && seen_index)) {
      return Refused(FileError(name, "damaged header: schema statement " + std::to_string(n + 1) +
                                   " is not a CREATE TABLE or CREATE INDEX statement in its place"));
    }
    seen_index = seen_index || !is_table;
    out->schema_sql.push_back(std::move(sql));
  }
  *at_end = at;
  return engine::Status();
}

}  // namespace

engine::Status ParseSealedLayout(std::string_view data, bool whole_file, const std::string& name,
                                 SealedLayout* layout) {
  SealedLayout out;
  size_t at = 0;
  if (engine::Status fixed = ParseFixedHeader(data, name, &out); !fixed.ok()) return fixed;
  if (engine::Status schema = ParseSchemaStatements(data, name, &out, &at); !schema.ok()) return schema;
  const auto* p = reinterpret_cast<const uint8_t*>(data.data());
  if (out.version == kSealVersionPages) {
    if (data.size() - at < 12 + kSealHeaderTagBytes) return Refused(FileError(name, "truncated inside its header"));
    out.page_size = Get32(p + at);
    out.pages = Get64(p + at + 4);
    out.tagged_bytes = at + 12;
    std::memcpy(out.header_tag.data(), p + out.tagged_bytes, kSealHeaderTagBytes);
    out.header_bytes = out.tagged_bytes + kSealHeaderTagBytes;
    const uint32_t size = out.page_size;
    if (size < 512 || size > 65536 || (size & (size - 1)) != 0 || out.pages == 0 || out.pages > kSealMaxPages) {
      return Refused(FileError(name, "damaged header: " + std::to_string(out.pages) + " pages of " +
                                     std::to_string(size) + " bytes"));
    }
    if (whole_file) {
      if (engine::Status length = CheckSealedLength(out, data.size(), name); !length.ok()) return length;
    }
    *layout = std::move(out);
    return engine::Status();
  }
  if (data.size() - at < 8) {
    return Refused(FileError(name, "truncated inside its header"));
  }
  out.cipher_bytes = Get64(p + at);
  at += 8;
  out.header_bytes = at;
  if (out.cipher_bytes < kSealTagBytes) {
    return Refused(FileError(name, "damaged header: encrypted length " + std::to_string(out.cipher_bytes)));
  }
  if (whole_file) {
    if (engine::Status length = CheckSealedLength(out, data.size(), name); !length.ok()) return length;
  }
  *layout = std::move(out);
  return engine::Status();
}

engine::Status CheckSealedLength(const SealedLayout& layout, uint64_t file_size, const std::string& name) {
  if (file_size < layout.header_bytes) return Refused(FileError(name, "truncated inside its header"));
  const uint64_t have = file_size - layout.header_bytes;
  if (layout.version == kSealVersionPages) {
    const uint64_t slot = kSealNonceBytes + layout.page_size + kSealTagBytes;
    const uint64_t want = layout.pages * slot;
    if (have < want) {
      return Refused(FileError(name, "truncated: " + std::to_string((want - have + slot - 1) / slot) + " of " +
                                     std::to_string(layout.pages) + " pages are missing or cut"));
    }
    if (have > want) {
      return Refused(FileError(name, "damaged: " + std::to_string(have - want) +
                                     " unexpected bytes after the last page"));
    }
    return engine::Status();
  }
  if (have < layout.cipher_bytes) {
    return Refused(FileError(name, "truncated: " + std::to_string(layout.cipher_bytes - have) +
                                 " bytes of the encrypted table are missing"));
  }
  if (have > layout.cipher_bytes) {
    return Refused(FileError(name, "damaged: " + std::to_string(have - layout.cipher_bytes) +
                                 " unexpected bytes after the encrypted table"));
  }
  return engine::Status();
}

