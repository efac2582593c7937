#include "app/exit_status.h"

#include "app/configuration.h"
#include "data/errors.h"
#include "platform/output_file.h"
#include "util/error.h"

namespace {

struct Meaning {
  ExitStatus status;
  const char* text;
};

// In the order --help lists them.
constexpr Meaning kMeanings[] = {
    {ExitStatus::kCompleted, "the run completed; with --check: a run can start"},
    {ExitStatus::kCheckFoundProblems, "--check found problems (all listed)"},
    {ExitStatus::kClosedBeforeRun, "closed before the run began"},
    {ExitStatus::kCompletedWithWarnings, "completed with warnings (the summary line lists them)"},
    {ExitStatus::kBadCommandLine, "bad command line"},
    {ExitStatus::kBadData, "bad data in the HR database"},
    {ExitStatus::kDatabaseUnavailable, "HR database unavailable"},
    {ExitStatus::kInternalError, "internal error"},
    {ExitStatus::kSystemError, "system error"},
    {ExitStatus::kCannotCreateOutput, "output file cannot be made"},
    {ExitStatus::kCannotWriteOutput, "output file cannot be written"},
    {ExitStatus::kAnotherRunUnderWay, "another run holds the site folder; try later"},
    {ExitStatus::kConfiguration, "configuration error"},
};

ExitStatus ForFileError(int code) {
  switch (code) {
    case 2:
    case 3:
    case kFileAccessDenied:
      return ExitStatus::kCannotCreateOutput;
    case kFileNotOpenForOutput:
      return ExitStatus::kConfiguration;
    case kFileNotOpen:
      return ExitStatus::kInternalError;
    default:
      return ExitStatus::kCannotWriteOutput;
  }
}

}  // namespace

ExitStatus ExitStatusForError(const std::exception_ptr& error) {
  if (!error) return ExitStatus::kInternalError;
  try {
    std::rethrow_exception(error);
  } catch (const EConfigurationError&) {
    return ExitStatus::kConfiguration;
  } catch (const EInOutError& e) {
    return ForFileError(e.Code());
  } catch (const EADSDatabaseError& e) {
    return IsBadDataCode(e.Code()) ? ExitStatus::kBadData : ExitStatus::kDatabaseUnavailable;
  } catch (const EDataError&) {
    return ExitStatus::kBadData;
  } catch (const EDatabaseError&) {
    return ExitStatus::kBadData;
  } catch (const EZeroDivide&) {
    return ExitStatus::kBadData;
  } catch (...) {
  }
  return ExitStatus::kInternalError;
}

std::string ExitStatusMeaning(int status) {
  if (status == 0 || status == 1 || status == 3 || status == 5) return "";
  for (const Meaning& m : kMeanings) {
    if (ToInt(m.status) == status) return m.text;
  }
  return "";
}

std::string ExitStatusTable() {
  std::string table;
  for (const Meaning& m : kMeanings) {
    const std::string number = std::to_string(ToInt(m.status));
    table += "  " + std::string(number.size() < 2 ? 1 : 0, ' ') + number + "  " + m.text + "\n";
  }
  return table;
}
