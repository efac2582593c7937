// The exit status of a failed run, classed by the type of the error that
// ended it.
#include "app/exit_status.h"

#include <gtest/gtest.h>

#include <exception>
#include <new>
#include <string>

#include "app/configuration.h"
#include "data/errors.h"
#include "engine/ads.h"
#include "platform/output_file.h"

namespace {

EADSDatabaseError EngineError(uint32_t code) {
  EADSDatabaseError::Details details;
  details.code = code;
  return EADSDatabaseError("engine error", details);
}

TEST(ExitStatusTest, EachErrorTypeHasTheStatusAMonitorActsOn) {
  const struct {
    std::exception_ptr error;
    ExitStatus status;
  } cases[] = {
      {std::make_exception_ptr(EConfigurationError("EMPLOYEE_PATH names a FIFO")), ExitStatus::kConfiguration},
      {std::make_exception_ptr(EInOutError(3, "no folder")), ExitStatus::kCannotCreateOutput},
      {std::make_exception_ptr(EInOutError(kFileAccessDenied)), ExitStatus::kCannotCreateOutput},
      {std::make_exception_ptr(EInOutError(kFileNotOpenForOutput)), ExitStatus::kConfiguration},
      {std::make_exception_ptr(EInOutError(101)), ExitStatus::kCannotWriteOutput},
      {std::make_exception_ptr(EInOutError(kWriteFault)), ExitStatus::kCannotWriteOutput},
      {std::make_exception_ptr(EInOutError(kFileNotOpen)), ExitStatus::kInternalError},
      {std::make_exception_ptr(EngineError(AE_KDX_BAD_STORED_VALUE)), ExitStatus::kBadData},
      {std::make_exception_ptr(EngineError(AE_COLUMN_VALUE_INVALID)), ExitStatus::kBadData},
      {std::make_exception_ptr(EngineError(AE_KDX_PATH_NOT_FOUND)), ExitStatus::kDatabaseUnavailable},
      {std::make_exception_ptr(EngineError(AE_KDX_TABLE_NOT_FOUND)), ExitStatus::kDatabaseUnavailable},
      {std::make_exception_ptr(EngineError(6101)), ExitStatus::kDatabaseUnavailable},  // login refused
      {std::make_exception_ptr(EngineError(6201)), ExitStatus::kDatabaseUnavailable},  // server unreachable
      {std::make_exception_ptr(ENumberOutOfRange("AdsQueryEmp", "SALARY", "INF")), ExitStatus::kBadData},
      {std::make_exception_ptr(EDataError("Leave day is not tally!")), ExitStatus::kBadData},
      {std::make_exception_ptr(EDatabaseError("'x' is not a valid date and time")), ExitStatus::kBadData},
      {std::make_exception_ptr(EZeroDivide()), ExitStatus::kBadData},
      {std::make_exception_ptr(Exception("unclassed")), ExitStatus::kInternalError},
      {std::make_exception_ptr(std::bad_alloc()), ExitStatus::kInternalError},
      {nullptr, ExitStatus::kInternalError},
  };
  int n = 0;
  for (const auto& c : cases) EXPECT_EQ(ExitStatusForError(c.error), c.status) << "case " << n++;
}

}  // namespace
