// The engine's fallible libsodium calls, each a fault point.
#include "engine/crypto.h"

#include <sodium.h>

#include "engine/faults.h"

namespace engine {

Status SodiumReady(UNSIGNED32 code) {
  static const int status = sodium_init();
  if (status < 0 || FaultHere(kCrypto)) return Status(code, "The cryptography library could not be initialised");
  return Status();
}

bool DeriveKey(uint8_t* key, size_t key_size, const std::string& password, const uint8_t* salt, uint32_t passes,
               size_t memory_bytes) {
  if (FaultHere(kCrypto)) return false;
  return crypto_pwhash(key, key_size, password.data(), password.size(), salt, passes, memory_bytes,
                       crypto_pwhash_ALG_ARGON2ID13) == 0;
}

bool DecryptSealed(const SealedCipher& sealed, const uint8_t* key, uint8_t* plain, size_t* plain_size) {
  if (FaultHere(kCrypto)) return false;
  unsigned long long length = 0;
  const int rc = crypto_aead_xchacha20poly1305_ietf_decrypt(plain, &length, nullptr, sealed.cipher, sealed.cipher_size,
                                                            sealed.header, sealed.header_size, sealed.nonce, key);
  *plain_size = static_cast<size_t>(length);
  return rc == 0;
}

bool HashPassword(const std::string& password, std::string* hash) {
  if (FaultHere(kCrypto)) return false;
  char text[crypto_pwhash_STRBYTES] = {};
  const bool ok = crypto_pwhash_str(text, password.data(), password.size(), crypto_pwhash_OPSLIMIT_INTERACTIVE,
                                    crypto_pwhash_MEMLIMIT_INTERACTIVE) == 0;
  if (ok) *hash = text;
  sodium_memzero(text, sizeof text);
  return ok;
}

bool PasswordMatches(const std::string& hash, const std::string& password) {
  if (FaultHere(kCrypto)) return false;
  return crypto_pwhash_str_verify(hash.c_str(), password.data(), password.size()) == 0;
}

}  // namespace engine
