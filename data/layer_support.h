// Helpers shared by the data layer's sources; not part of its interface.
#ifndef KDX_DATA_LAYER_SUPPORT_H_
#define KDX_DATA_LAYER_SUPPORT_H_

#include <cstdint>
#include <string>
#include <string_view>

#include "util/ascii.h"

namespace data_internal {

// Engine error texts are read into buffers of this many characters.
inline constexpr size_t kErrorTextLimit = 600;

// The code and text of the engine's last error in this thread, the text cut
// to kErrorTextLimit characters. Code 0 and an empty text when the engine
// cannot tell.
struct EngineError {
  uint32_t code = 0;
  std::string text;
};
EngineError LastEngineError();

// The message of an AdsError built from the last error (or, with `code`, from
// the engine's text for that code). When the engine cannot give the text it
// is asked to show its own message ("Ads Exception Error") and the message is
// empty.
std::string AdsErrorMessageFromLastError();
std::string AdsErrorMessageForCode(uint32_t code);

// Folder of the running program, with a trailing "/"; empty when unknown.
std::string ProgramFolder();

}  // namespace data_internal

#endif  // KDX_DATA_LAYER_SUPPORT_H_
