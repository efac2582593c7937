// The engine's one status type: what every internal function that can fail
// returns. A failure carries a code of engine/ads.h, the text naming what
// failed (path, table, column, statement or server), and the detail the
// layers above read without parsing the text (AdsErrorDetail). A success is
// a null pointer: returning one costs what returning an integer does.
//
// A status leaves the engine as a code: converted to UNSIGNED32 (an entry
// point returning it, or a function of the code convention passing it on),
// a failure becomes this thread's last error (AdsGetLastError,
// AdsGetLastErrorDetail) and gives its code; a success gives 0 and leaves
// the last error as it was. A failure that is handled inside the engine is
// never recorded. Tested with ok(), never as a truth value.
#ifndef KDX_ENGINE_STATUS_H_
#define KDX_ENGINE_STATUS_H_

#include <memory>
#include <string>

#include "engine/ads.h"

namespace engine {

using ErrorDetail = AdsErrorDetail;

class [[nodiscard]] Status {
 public:
  Status() noexcept = default;  // success
  // A failure: `code` is not 0.
  Status(UNSIGNED32 code, std::string text);
  Status(const Status& other);
  Status& operator=(const Status& other);
  Status(Status&& other) noexcept = default;
  Status& operator=(Status&& other) noexcept = default;
  ~Status() = default;

  bool ok() const noexcept { return rep_ == nullptr; }
  UNSIGNED32 code() const noexcept { return rep_ == nullptr ? 0 : rep_->code; }
  // "" for a success.
  const std::string& text() const noexcept;
  // All empty for a success.
  const ErrorDetail& detail() const noexcept;

  // The detail of a failure (a success stays one): the table as messages
  // name it, the column, the server; that the statement whose execution
  // failed cannot run again.
  Status&& WithTable(std::string table) &&;
  Status&& WithColumn(std::string column) &&;
  Status&& WithServer(std::string server) &&;
  Status&& WithUnusableStatement() &&;
  Status& WithTable(std::string table) &;
  Status& WithColumn(std::string column) &;
  Status& WithServer(std::string server) &;
  Status& WithUnusableStatement() &;

  // The status leaving the engine: a failure becomes this thread's last
  // error; the code (0 for a success).
  operator UNSIGNED32() const { return rep_ == nullptr ? 0 : Publish(); }
  explicit operator bool() const = delete;

 private:
  // Makes the failure this thread's last error; its code.
  UNSIGNED32 Publish() const;

  struct Rep {
    UNSIGNED32 code = 0;
    std::string text;
    ErrorDetail detail;
  };
  std::unique_ptr<Rep> rep_;
};

// The status of a call of the code convention (a function that records its
// failure with SetError and returns the code) that answered `code`: a
// success for 0, else this thread's last error under `code`.
Status LastErrorStatus(UNSIGNED32 code);

}  // namespace engine

#endif  // KDX_ENGINE_STATUS_H_
