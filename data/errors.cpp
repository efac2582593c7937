#include "data/errors.h"

#include <cmath>
#include <utility>

#include "engine/ads.h"

namespace {

// Number of EADSDatabaseError objects alive in this thread.
thread_local int g_errors_alive = 0;

}  // namespace

EADSDatabaseError::EADSDatabaseError(const std::string& message, Details details)
    : EDatabaseError(message), details_(std::move(details)) {
  ++g_errors_alive;
}

EADSDatabaseError::EADSDatabaseError(const EADSDatabaseError& other)
    : EDatabaseError(other), details_(other.details_) {
  ++g_errors_alive;
}

EADSDatabaseError::~EADSDatabaseError() { --g_errors_alive; }

bool DatabaseErrorInProgress() { return g_errors_alive > 0; }

bool IsBadDataCode(uint32_t code) {
  switch (code) {
    case AE_COLUMN_TYPE_MISMATCH:
    case AE_COLUMN_VALUE_INVALID:
    case AE_KDX_BAD_STORED_VALUE:
      return true;
    default:
      return false;
  }
}

namespace {

// Beyond any currency amount: a day count, a salary or an allowance this
// large is a damaged or mistyped value.
constexpr double kAmountLimit = 1e15;

}  // namespace

bool IsPlausibleAmount(double value) { return std::isfinite(value) && std::fabs(value) < kAmountLimit; }

ENumberOutOfRange::ENumberOutOfRange(std::string component, std::string column, std::string value)
    : EDatabaseError((component.empty() ? std::string() : component + ": ") + "Column '" + column + "' holds " +
                     value + ", which is beyond any amount (not finite, or 10^15 or more)"),
      component_(std::move(component)),
      column_(std::move(column)),
      value_(std::move(value)) {}
