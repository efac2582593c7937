// Text values on their way into an export line. A CR, LF, NUL or other
// control character below the blank (TAB aside) in a value would split one
// record into two lines or cut a field short, so each is written as one
// blank. The replacements of one file are counted, and where the first one
// was is kept for the warning the run ends with.
//
// One object per output file of a run; one thread.
#ifndef KDX_EXPORTS_LINE_TEXT_H_
#define KDX_EXPORTS_LINE_TEXT_H_

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "util/text_utils.h"

class LineText {
 public:
  // `file` names the output in the warning: "employee file", "leave CSV".
  explicit LineText(std::string file) : file_(std::move(file)) {}

  // Blanks the control characters of `value`. `where` ("column REMARK1 of
  // employee E01") is asked for only at the first replacement of the file.
  template <class Where>
  void Clean(std::string& value, Where&& where) {
    const size_t replaced = BlankControlCharacters(value);
    if (replaced == 0) return;
    if (count_ == 0) first_ = where();
    count_ += replaced;
  }

  uint64_t Count() const { return count_; }

  // Adds the file's warning to `warnings` when a character was replaced.
  void Report(std::vector<std::string>& warnings) const;

 private:
  std::string file_;
  uint64_t count_ = 0;
  std::string first_;
};

#endif  // KDX_EXPORTS_LINE_TEXT_H_
