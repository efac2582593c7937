// The data layer's error types and their messages. Every failure the engine
// reports, or the layer detects, reaches the jobs as one of these.
#ifndef KDX_DATA_ERRORS_H_
#define KDX_DATA_ERRORS_H_

#include <cstdint>
#include <string>

#include "util/error.h"

// A plain database error of the generic dataset base ("Field '%s' not found",
// "Cannot access field '%s' as type %s", ...).
class EDatabaseError : public Exception {
 public:
  explicit EDatabaseError(const std::string& message) : Exception(message) {}
};

// A number column holds what no amount can be: a value that is not finite,
// or of 10^15 or more in magnitude (beyond any currency amount). The column
// readers raise it instead of handing such a value on, so that it never
// reaches a file as "INF" or as a field hundreds of characters wide. The
// message is "<component>: Column '<column>' holds <value>, which is beyond
// any amount (not finite, or 10^15 or more)"; callers that know the record
// build their own message from the parts.
class ENumberOutOfRange : public EDatabaseError {
 public:
  ENumberOutOfRange(std::string component, std::string column, std::string value);
  const std::string& Component() const { return component_; }
  const std::string& Column() const { return column_; }
  const std::string& Value() const { return value_; }

 private:
  std::string component_;
  std::string column_;
  std::string value_;
};

// Whether `value` is an amount a column may hold: finite and below 10^15 in
// magnitude.
bool IsPlausibleAmount(double value);

// A database error with the details of the dataset concerned. The message is
// "<component name>: <engine or layer text>", or the text alone when the
// dataset has no name.
//
// While an EADSDatabaseError object exists in a thread (from its construction
// to its destruction, copies included, such as one a run keeps), a second
// database error made meanwhile carries no dataset details and no name
// prefix. Engine failures are raised all the same: the cleanup that runs
// while an error propagates (closing a dataset whose open failed, the
// destructors) catches what it raises itself, so that it never raises over
// that error.
class EADSDatabaseError : public EDatabaseError {
 public:
  struct Details {
    uint32_t code = 0;
    std::string component_name;
    std::string owner_name;
    std::string database_name;
    std::string folder;
    std::string table_name;
    std::string column_name;
  };
  EADSDatabaseError(const std::string& message, Details details);
  EADSDatabaseError(const EADSDatabaseError& other);
  EADSDatabaseError& operator=(const EADSDatabaseError& other) = default;
  ~EADSDatabaseError() override;
  uint32_t Code() const { return details_.code; }
  const Details& GetDetails() const { return details_; }

 private:
  Details details_;
};

// Whether an EADSDatabaseError exists in the calling thread.
bool DatabaseErrorInProgress();

// Whether the engine error `code` says that a value inside the database is
// bad (a stored value that does not fit its column, a value that cannot be
// read as its column's type) rather than
// that the database cannot be reached, logged into or opened as a run needs
// it (every other code; docs/database-format.md lists them).
bool IsBadDataCode(uint32_t code);

// What a run found wrong inside the database that is no engine error: a
// leave whose days do not add up, a row a lookup needs that is missing, a
// template row that cannot be laid out, a number beyond any amount. The
// message names the record.
class EDataError : public Exception {
 public:
  explicit EDataError(const std::string& message) : Exception(message) {}
};

// The engine refused a disconnect or a setting.
class AdsError : public Exception {
 public:
  explicit AdsError(const std::string& message) : Exception(message) {}
};

// A connection component was misused (literal texts).
class AdsConnectionError : public Exception {
 public:
  explicit AdsConnectionError(const std::string& message) : Exception(message) {}
};

// "At least one server type must be selected."
class AdsSettingsError : public Exception {
 public:
  explicit AdsSettingsError(const std::string& message) : Exception(message) {}
};

#endif  // KDX_DATA_ERRORS_H_
