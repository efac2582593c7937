// The rows a lookup table keeps when it is read ahead: groups in key order,
// a key out of order refused, the cells of a group replaced, look-ups in any
// order.
#include "exports/read_ahead_rows.h"

#include <gtest/gtest.h>

namespace {

TEST(ReadAheadRowsTest, GroupsFollowTheKeysAndRefuseOneOutOfOrder) {
  ReadAheadRows rows;
  ASSERT_TRUE(rows.Place(""));
  ASSERT_TRUE(rows.AddCell(1, "empty"));
  ASSERT_TRUE(rows.Place("A"));
  ASSERT_TRUE(rows.AddCell(2, "first"));
  ASSERT_TRUE(rows.Place("A"));
  EXPECT_FALSE(rows.PlacedNewGroup());
  rows.DropCurrentCells();
  ASSERT_TRUE(rows.AddCell(3, "replaced"));
  ASSERT_TRUE(rows.Place("B"));
  EXPECT_FALSE(rows.Place("AZ"));
  ASSERT_TRUE(rows.Place("C"));
  ASSERT_TRUE(rows.AddCell(4, "c"));

  EXPECT_EQ(rows.GroupCount(), 4u);
  const ReadAheadRows::Group* a = rows.Find("A");
  ASSERT_NE(a, nullptr);
  ASSERT_EQ(a->cells, 1u);
  EXPECT_EQ(rows.Text(rows.CellAt(a->first_cell)), "replaced");
  EXPECT_EQ(rows.CellAt(a->first_cell).number, 3);
  EXPECT_EQ(rows.Find("B")->cells, 0u);
  EXPECT_EQ(rows.Text(rows.CellAt(rows.Find("C")->first_cell)), "c");
  EXPECT_EQ(rows.Text(rows.CellAt(rows.Find("")->first_cell)), "empty");
  EXPECT_EQ(rows.Find("AZ"), nullptr);
  EXPECT_EQ(rows.Find("D"), nullptr);
  // Asked for out of order after in order: the search still finds them.
  EXPECT_NE(rows.Find("C"), nullptr);
  EXPECT_NE(rows.Find(""), nullptr);
  EXPECT_EQ(rows.Find("0"), nullptr);
}

}  // namespace
