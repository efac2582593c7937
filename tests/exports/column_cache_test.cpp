// Cached column references must never outlive the columns they stand for.
#include "exports/column_cache.h"

#include "tests/exports/export_fixture.h"

namespace export_test {
namespace {

class ColumnCacheTest : public ExportFixture {
 protected:
  void SetUp() override {
    ExportFixture::SetUp();
    AddEmployee({.emp_no = "E01", .name = "Alice", .national_code = "SG"});
    host().PrepareConnection();
  }
  TAdsQuery& Open(const std::string& sql) {
    TAdsQuery& q = *host().Components().AdsQuerySource;
    q.CloseDataSet();
    q.SetSqlText(sql);
    q.OpenDataSet();
    return q;
  }
  ColumnCache cache_;
};

TEST_F(ColumnCacheTest, FollowsAReopenedQueryWhoseColumnsMoved) {
  TAdsQuery& q = Open("select EMP_NO, NAME from EMPLOYEE");
  EXPECT_EQ(cache_.Text(q, "name"), "Alice");
  Open("select NAME, EMP_NO from EMPLOYEE");
  EXPECT_EQ(cache_.Text(q, "name"), "Alice");
  EXPECT_EQ(cache_.Text(q, "EMP_NO"), "E01");
  Open("select NATIONAL_CODE, EMP_NO, NAME from EMPLOYEE");
  EXPECT_EQ(cache_.Text(q, "name"), "Alice");
}

TEST_F(ColumnCacheTest, MissingOrClosedColumnFailsEveryTime) {
  TAdsQuery& q = Open("select EMP_NO from EMPLOYEE");
  for (int i = 0; i < 2; ++i) {
    const std::string error = ErrorOf([&] { cache_.Text(q, "NAME"); });
    EXPECT_EQ(error, "AdsQuerySource: Field 'NAME' not found");
  }
  EXPECT_EQ(cache_.Text(q, "EMP_NO"), "E01");
  q.CloseDataSet();
  EXPECT_NE(ErrorOf([&] { cache_.Text(q, "EMP_NO"); }), "(no error)");
}

}  // namespace
}  // namespace export_test
