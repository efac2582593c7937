// The engine's last error as the data layer reads it, and the texts of the
// AdsError the layer raises for a refused disconnect or setting. Internal to
// the data layer.
#ifndef KDX_DATA_ENGINE_ERROR_H_
#define KDX_DATA_ENGINE_ERROR_H_

#include <cstddef>
#include <cstdint>
#include <string>

#include "engine/ads.h"

namespace data_internal {

// Engine error texts are read into buffers of this many characters.
inline constexpr size_t kErrorTextLimit = 600;

// The code, text and detail of the engine's last error in this thread, the
// text cut to kErrorTextLimit characters. Code 0, an empty text and no
// detail when the engine cannot tell. The detail says what the error
// concerns (its column, whether the statement can run again): the layer
// takes that from it, never from the text.
struct EngineError {
  uint32_t code = 0;
  std::string text;
  AdsErrorDetail detail;
};
[[nodiscard]] EngineError LastEngineError();

// The message of an AdsError built from the last error (or, with `code`, from
// the engine's text for that code). When the engine cannot give the text it
// is asked to show its own message ("Ads Exception Error") and the message is
// empty.
std::string AdsErrorMessageFromLastError();
std::string AdsErrorMessageForCode(uint32_t code);

}  // namespace data_internal

#endif  // KDX_DATA_ENGINE_ERROR_H_
