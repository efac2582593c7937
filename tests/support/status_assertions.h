// An engine::Status as a gtest assertion: ASSERT_TRUE(Succeeds(SealFile(...)))
// passes on a success and shows the failure's text otherwise.
#ifndef KDX_TESTS_SUPPORT_STATUS_ASSERTIONS_H_
#define KDX_TESTS_SUPPORT_STATUS_ASSERTIONS_H_

#include <gtest/gtest.h>

#include "engine/status.h"

inline ::testing::AssertionResult Succeeds(const engine::Status& status) {
  if (status.ok()) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << "error " << status.code() << ": " << status.text();
}

#endif  // KDX_TESTS_SUPPORT_STATUS_ASSERTIONS_H_
