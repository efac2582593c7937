// The libsodium calls of the engine that can fail, in one place: each is a
// fault point of kind kCrypto (engine/faults.h), so that a test can make it
// fail as libsodium would.
#ifndef KDX_ENGINE_CRYPTO_H_
#define KDX_ENGINE_CRYPTO_H_

#include <cstddef>
#include <cstdint>
#include <string>

#include "engine/status.h"

namespace engine {

// libsodium initialised (once per process); a failure under `code`.
Status SodiumReady(UNSIGNED32 code);

// Argon2id: `key_size` bytes of `key` from `password` and the 16-byte
// `salt` with `passes` and `memory_bytes`. false when libsodium cannot (out
// of memory).
[[nodiscard]] bool DeriveKey(uint8_t* key, size_t key_size, const std::string& password, const uint8_t* salt,
                             uint32_t passes, size_t memory_bytes);

// XChaCha20-Poly1305 of a sealed table: the `cipher_size` bytes at `cipher`
// (the tag last) decrypted into `plain` under `key` and `nonce`, with the
// `header_size` bytes at `header` as additional data. false when they fail
// authentication.
struct SealedCipher {
  const uint8_t* cipher;
  size_t cipher_size;
  const uint8_t* header;
  size_t header_size;
  const uint8_t* nonce;
};
[[nodiscard]] bool DecryptSealed(const SealedCipher& sealed, const uint8_t* key, uint8_t* plain, size_t* plain_size);

// The Argon2id hash string of `password` (a dictionary account's), with
// libsodium's interactive cost; false when libsodium cannot (out of memory).
[[nodiscard]] bool HashPassword(const std::string& password, std::string* hash);
// Whether `password` matches the hash string `hash`.
[[nodiscard]] bool PasswordMatches(const std::string& hash, const std::string& password);

}  // namespace engine

#endif  // KDX_ENGINE_CRYPTO_H_
