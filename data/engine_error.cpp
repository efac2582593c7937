#include "data/engine_error.h"

namespace data_internal {

namespace {

// Shows the engine's own message for an error whose text it cannot give.
// Its result is passed over: it is the last resort of a failure already
// being reported, and there is nothing further to show when it fails too.
void ShowEngineMessage() { static_cast<void>(AdsShowError("Ads Exception Error")); }

}  // namespace

EngineError LastEngineError() {
  EngineError error;
  if (AdsGetLastError(&error.code, &error.text) != AE_SUCCESS) {
    error.code = 0;
    error.text.clear();
  }
  if (error.text.size() > kErrorTextLimit) error.text.resize(kErrorTextLimit);
  if (AdsGetLastErrorDetail(&error.detail) != AE_SUCCESS) error.detail = AdsErrorDetail();
  return error;
}

std::string AdsErrorMessageFromLastError() {
  EngineError error = LastEngineError();
  if (error.text.empty()) {
    ShowEngineMessage();
    return "";
  }
  return error.text;
}

std::string AdsErrorMessageForCode(uint32_t code) {
  std::string text;
  if (AdsGetErrorString(code, &text) != AE_SUCCESS || text.empty()) {
    ShowEngineMessage();
    return "";
  }
  if (text.size() > kErrorTextLimit) text.resize(kErrorTextLimit);
  return text;
}

}  // namespace data_internal
