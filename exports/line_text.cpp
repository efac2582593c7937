#include "exports/line_text.h"

void LineText::Report(std::vector<std::string>& warnings) const {
  if (count_ == 0) return;
  warnings.push_back(file_ + ": " + std::to_string(count_) +
                     (count_ == 1 ? " control character" : " control characters") +
                     " (CR, LF, NUL or the like) written as blanks, the first in " + first_);
}
