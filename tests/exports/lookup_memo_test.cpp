// Code descriptions an employee export run remembers: kept apart by category
// and bounded in number.
#include "exports/lookup_memo.h"

#include <string>

#include <gtest/gtest.h>

namespace {

TEST(LookupMemoTest, PairsThatJoinToTheSameTextStayApart) {
  LookupMemo memo;
  memo.RememberDescription("AB", "C", "first");
  memo.RememberDescription("A", "BC", "second");
  memo.RememberDescription("", "ABC", "third");
  ASSERT_NE(memo.FindDescription("AB", "C"), nullptr);
  EXPECT_EQ(*memo.FindDescription("AB", "C"), "first");
  EXPECT_EQ(*memo.FindDescription("A", "BC"), "second");
  EXPECT_EQ(*memo.FindDescription("", "ABC"), "third");
  EXPECT_EQ(memo.FindDescription("ABC", ""), nullptr);
}

TEST(LookupMemoTest, RemembersNoMoreThanItsBound) {
  LookupMemo memo;
  const size_t beyond = LookupMemo::kMaxRememberedCodes + 10;
  for (size_t i = 0; i < beyond; ++i) memo.RememberDescription("EMP", std::to_string(i), "d" + std::to_string(i));
  EXPECT_EQ(memo.RememberedCodes(), LookupMemo::kMaxRememberedCodes);
  EXPECT_EQ(*memo.FindDescription("EMP", "0"), "d0");
  EXPECT_EQ(memo.FindDescription("EMP", std::to_string(beyond - 1)), nullptr);
}

}  // namespace
