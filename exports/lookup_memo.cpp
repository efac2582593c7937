#include "exports/lookup_memo.h"

const std::string& LookupMemo::CodeKey(const std::string& category, const std::string& code) {
  key_.assign(std::to_string(category.size()));
  key_ += ':';
  key_ += category;
  key_ += code;
  return key_;
}

const std::string* LookupMemo::FindDescription(const std::string& category, const std::string& code) {
  auto it = descriptions_.find(CodeKey(category, code));
  return it == descriptions_.end() ? nullptr : &it->second;
}

void LookupMemo::RememberDescription(const std::string& category, const std::string& code,
                                     const std::string& description) {
  if (descriptions_.size() >= kMaxRememberedCodes) return;
  descriptions_.emplace(CodeKey(category, code), description);
}

bool LookupMemo::StandsOn(const TAdsDataSet& table, const std::string& emp_no) const {
  for (const Position& p : positions_) {
    if (p.table == &table) return p.emp_no == emp_no;
  }
  return false;
}

void LookupMemo::SetStandsOn(const TAdsDataSet& table, const std::string& emp_no) {
  for (Position& p : positions_) {
    if (p.table == &table) {
      p.emp_no = emp_no;
      return;
    }
  }
  positions_.push_back(Position{&table, emp_no});
}

void LookupMemo::Forget(const TAdsDataSet& table) {
  for (size_t i = 0; i < positions_.size(); ++i) {
    if (positions_[i].table == &table) {
      positions_.erase(positions_.begin() + static_cast<std::ptrdiff_t>(i));
      return;
    }
  }
}

const LookupMemo::CareerValue* LookupMemo::Career::Find(const std::string& column) const {
  for (const CareerValue& v : values) {
    if (v.column == column) return &v;
  }
  return nullptr;
}
