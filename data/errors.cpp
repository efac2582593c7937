#include "data/errors.h"

#include <utility>

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
