// The lookups behind the template kinds: career values in force and salary
// conversions, allowances in effect, identity and residency values.
#include "exports/employee_export.h"
#include "exports/employee_resolvers.h"

#include "tests/exports/export_fixture.h"

namespace export_test {
namespace {

class ResolverTest : public ExportFixture {
 protected:
  void Run() { ExportEmployees(host()); }
  std::string RunError() {
    return ErrorOf([&] { ExportEmployees(host()); });
  }
};

// ---- career -------------------------------------------------------------------

class CareerTest : public ResolverTest {};

TEST_F(CareerTest, ValueInForceIsTheLastRowNotLaterThanTheRun) {
  AddEmployee({.emp_no = "E01"});
  AddCareer({.emp_code = "E01", .pay_effective_date = "2010-01-01", .old_salary = 1000, .new_salary = 1500});
  AddCareer({.emp_code = "E01", .pay_effective_date = "2010-03-01", .old_salary = 1500, .new_salary = 2500});
  AddCareer({.emp_code = "E01", .pay_effective_date = "2010-12-01", .old_salary = 2500, .new_salary = 9999});
  AddTemplate({.no = 1, .field_name = "PAY_EFFECTIVE_DATE"});
  AddTemplate({.no = 2, .field_name = "NEW_SALARY"});
  AddTemplate({.no = 3, .field_name = "OLD_SALARY"});
  Run();
  EXPECT_EQ(EmployeeFile(), "01/03/2010,2500,1500,\r\n");
}

TEST_F(CareerTest, RowOfTheRunDayCounts) {
  AddEmployee({.emp_no = "E01"});
  AddCareer({.emp_code = "E01", .pay_effective_date = "2010-01-01", .new_salary = 1});
  AddCareer({.emp_code = "E01", .pay_effective_date = "2010-06-15", .new_salary = 2});
  AddCareer({.emp_code = "E01", .pay_effective_date = "2010-06-16", .new_salary = 3});
  AddTemplate({.no = 1, .field_name = "PAY_EFFECTIVE_DATE"});
  AddTemplate({.no = 2, .field_name = "NEW_SALARY"});
  Run();
  EXPECT_EQ(EmployeeFile(), "15/06/2010,2,\r\n");
  // Also when the run starts at midnight: a date equal to AsOfDate counts.
  SetNow(EncodeDate(2010, 6, 15));
  Run();
  EXPECT_EQ(EmployeeFile(), "15/06/2010,2,\r\n");
}

TEST_F(CareerTest, RowsOfOtherEmployeesAreNeverRead) {
  AddEmployee({.emp_no = "E1"});
  AddEmployee({.emp_no = "E2"});
  AddEmployee({.emp_no = "E10"});
  AddCareer({.emp_code = "E10", .pay_effective_date = "2009-01-01", .new_salary = 10});
  AddCareer({.emp_code = "E1", .pay_effective_date = "2009-05-01", .new_salary = 1});
  AddCareer({.emp_code = "E3", .pay_effective_date = "2008-01-01", .new_salary = 3});
  AddTemplate({.no = 1, .field_name = "emp_no"});
  AddTemplate({.no = 2, .field_name = "PAY_EFFECTIVE_DATE"});
  AddTemplate({.no = 3, .field_name = "NEW_SALARY"});
  Run();
  EXPECT_EQ(EmployeeFile(), "E1,01/05/2009,1,\r\nE2,,,\r\nE10,01/01/2009,10,\r\n");
}

TEST_F(CareerTest, SameDateRowsFollowTheirId) {
  AddEmployee({.emp_no = "E01"});
  AddCareer({.emp_code = "E01", .pay_effective_date = "2010-04-01", .new_salary = 100});
  AddCareer({.emp_code = "E01", .pay_effective_date = "2010-04-01", .new_salary = 200});
  AddTemplate({.no = 1, .field_name = "NEW_SALARY"});
  Run();
  EXPECT_EQ(EmployeeFile(), "200,\r\n");
}

TEST_F(CareerTest, SalaryConversionsByPayType) {
  AddEmployee({.emp_no = "DAY", .pay_type = "D"});
  AddEmployee({.emp_no = "HOUR", .pay_type = "H"});
  AddEmployee({.emp_no = "SE", .pay_type = "SE", .hrs_work_peryear = 2400});
  AddEmployee({.emp_no = "SN", .pay_type = "SN", .hrs_work_peryear = 2080});
  AddEmployee({.emp_no = "MON", .pay_type = "M"});
  AddEmployee({.emp_no = "S", .pay_type = "S"});
  AddCareer({.emp_code = "DAY", .pay_effective_date = "2010-01-01", .new_salary = 800});
  AddCareer({.emp_code = "HOUR", .pay_effective_date = "2010-01-01", .new_salary = 12.5});
  AddCareer({.emp_code = "SE", .pay_effective_date = "2010-01-01", .new_salary = 3000});
  AddCareer({.emp_code = "SN", .pay_effective_date = "2010-01-01", .new_salary = 2600});
  AddCareer({.emp_code = "MON", .pay_effective_date = "2010-01-01", .old_salary = 2500, .new_salary = 2750.5});
  AddCareer({.emp_code = "S", .pay_effective_date = "2010-01-01", .new_salary = 1234.5});
  AddTemplate({.no = 1, .field_name = "emp_no"});
  AddTemplate({.no = 2, .field_name = "NEW_SALARY"});
  AddTemplate({.no = 3, .field_name = "OLD_SALARY"});
  Run();
  EXPECT_EQ(EmployeeFile(), Crlf({"DAY,100.00,0.00,", "HOUR,12.50,0.00,", "SE,15.00,0.00,", "SN,15.00,0.00,",
                                  "MON,2750.5,2500,", "S,1234.5,,"}));
}

TEST_F(CareerTest, NoCareerRowGivesZeroAmountsOrEmpty) {
  AddEmployee({.emp_no = "D", .pay_type = "D"});
  AddEmployee({.emp_no = "SE", .pay_type = "SE", .hrs_work_peryear = 2000});
  AddEmployee({.emp_no = "M", .pay_type = "M"});
  AddTemplate({.no = 1, .field_name = "NEW_SALARY"});
  AddTemplate({.no = 2, .field_name = "PAY_EFFECTIVE_DATE"});
  Run();
  EXPECT_EQ(EmployeeFile(), Crlf({"0.00,,", "0.00,,", ",,"}));
}

// ---- allowances ---------------------------------------------------------------

class AllowanceTest : public ResolverTest {
 protected:
  void SetUp() override {
    ResolverTest::SetUp();
    AddEmployee({.emp_no = "E01"});
    AddTemplate({.no = 1, .field_name = "ALLOW_CODE", .mapfield2 = "TRANS"});
  }
  std::string AmountIn(int year, int month, int day = 10) {
    SetNow(EncodeDate(year, month, day) + EncodeTime(9, 0, 0, 0));
    Run();
    return EmployeeFile();
  }
};

TEST_F(AllowanceTest, EffectiveDateOpensTheWindowByMonth) {
  AddAllowance({.emp_no = "E01", .allow_code = "TRANS", .effdate = "2010-03-15", .amt = 120});
  EXPECT_EQ(AmountIn(2010, 2, 28), "0.00,\r\n");
  EXPECT_EQ(AmountIn(2010, 3, 1), "120.00,\r\n");
  EXPECT_EQ(AmountIn(2010, 6), "120.00,\r\n");
  EXPECT_EQ(AmountIn(2025, 1), "120.00,\r\n");
}

TEST_F(AllowanceTest, EndDateClosesTheWindowByMonth) {
  AddAllowance({.emp_no = "E01", .allow_code = "TRANS", .effdate = "2010-03-15", .enddate = "2010-04-02",
                .amt = 55.5});
  EXPECT_EQ(AmountIn(2010, 4, 30), "55.50,\r\n");
  EXPECT_EQ(AmountIn(2010, 5, 1), "0.00,\r\n");
}

TEST_F(AllowanceTest, FarEndDateStaysInCalendarOrder) {
  AddAllowance({.emp_no = "E01", .allow_code = "TRANS", .effdate = "2010-01-01", .enddate = "6000-12-31",
                .amt = 10});
  EXPECT_EQ(AmountIn(2010, 6), "10.00,\r\n");
}

TEST_F(AllowanceTest, LaterRowInEffectWinsAndAmountsAreNotAdded) {
  AddAllowance({.emp_no = "E01", .allow_code = "TRANS", .effdate = "2009-01-01", .amt = 100});
  AddAllowance({.emp_no = "E01", .allow_code = "TRANS", .effdate = "2010-01-01", .amt = 150});
  AddAllowance({.emp_no = "E01", .allow_code = "TRANS", .effdate = "2011-01-01", .amt = 999});
  EXPECT_EQ(AmountIn(2010, 6), "150.00,\r\n");
}

TEST_F(AllowanceTest, OtherCodesAndEmployeesDoNotCount) {
  AddAllowance({.emp_no = "E01", .allow_code = "MEAL", .amt = 7});
  AddAllowance({.emp_no = "E02", .allow_code = "TRANS", .amt = 8});
  AddAllowance({.emp_no = "E011", .allow_code = "TRANS", .amt = 9});
  EXPECT_EQ(AmountIn(2010, 6), "0.00,\r\n");
}

TEST_F(AllowanceTest, MonthColumnsBothZeroAlwaysInEffect) {
  AddAllowance({.emp_no = "E01", .allow_code = "TRANS", .start_mth = 0, .end_mth = 0, .amt = 30});
  EXPECT_EQ(AmountIn(1999, 1), "30.00,\r\n");
}

TEST_F(AllowanceTest, EmptyMonthColumnsCountAsZero) {
  AddAllowance({.emp_no = "E01", .allow_code = "TRANS", .amt = 31});
  EXPECT_EQ(AmountIn(2010, 6), "31.00,\r\n");
}

TEST_F(AllowanceTest, MonthColumnsHoldYyyymmWindows) {
  AddAllowance({.emp_no = "E01", .allow_code = "TRANS", .start_mth = 201003, .end_mth = 201005, .amt = 40});
  EXPECT_EQ(AmountIn(2010, 2), "0.00,\r\n");
  EXPECT_EQ(AmountIn(2010, 3), "40.00,\r\n");
  EXPECT_EQ(AmountIn(2010, 5), "40.00,\r\n");
  EXPECT_EQ(AmountIn(2010, 6), "0.00,\r\n");
}

TEST_F(AllowanceTest, ZeroMonthIsAnOpenSide) {
  AddAllowance({.emp_no = "E01", .allow_code = "TRANS", .start_mth = 201003, .end_mth = 0, .amt = 41});
  AddAllowance({.emp_no = "E01", .allow_code = "TRANS", .start_mth = 0, .end_mth = 200912, .amt = 42});
  EXPECT_EQ(AmountIn(2009, 12), "42.00,\r\n");
  EXPECT_EQ(AmountIn(2010, 1), "0.00,\r\n");
  EXPECT_EQ(AmountIn(2030, 1), "41.00,\r\n");
}

TEST_F(AllowanceTest, InvalidMonthValueNamesEmployeeCodeAndValue) {
  AddAllowance({.emp_no = "E01", .allow_code = "TRANS", .start_mth = 201013, .end_mth = 0, .amt = 1});
  SetNow(EncodeDate(2010, 6, 1));
  EXPECT_EQ(RunError(), "EMP_ALW of employee E01, allowance TRANS: START_MTH 201013 is not a month in the form YYYYMM");
}

TEST_F(AllowanceTest, InvalidEndMonthIsRefusedBeforeTheWindowOpens) {
  AddAllowance({.emp_no = "E01", .allow_code = "TRANS", .start_mth = 201012, .end_mth = 201013, .amt = 1});
  SetNow(EncodeDate(2010, 6, 1));
  EXPECT_EQ(RunError(), "EMP_ALW of employee E01, allowance TRANS: END_MTH 201013 is not a month in the form YYYYMM");
}

TEST_F(AllowanceTest, MonthOfTheYearAloneIsRefused) {
  AddAllowance({.emp_no = "E01", .allow_code = "TRANS", .start_mth = 0, .end_mth = 3, .amt = 1});
  SetNow(EncodeDate(2010, 6, 1));
  EXPECT_EQ(RunError(), "EMP_ALW of employee E01, allowance TRANS: END_MTH 3 is not a month in the form YYYYMM");
}

TEST_F(AllowanceTest, MonthIndexCountsMonths) {
  EXPECT_EQ(MonthIndex(2010, 1), 24121u);
  EXPECT_EQ(MonthIndex(2999, 12), 36000u);
  EXPECT_LT(MonthIndex(2999, 12), MonthIndex(6000, 1));
}

// ---- identity and residency ---------------------------------------------------

class ResidencyTest : public ResolverTest {
 protected:
  void SetUp() override {
    ResolverTest::SetUp();
    AddTemplate({.no = 1, .field_name = "RES_TYPE", .delimiter = "|"});
    AddTemplate({.no = 2, .field_name = "RES_DOC_NO", .delimiter = "|"});
    AddTemplate({.no = 3, .field_name = "RES_DURATION", .delimiter = "|"});
    AddTemplate({.no = 4, .field_name = "RES_EXPIRY_DATE", .delimiter = "|"});
  }
  static Employee Holder(const std::string& levy) {
    return {.emp_no = "E" + levy, .fund_levy = levy, .income_tax_ac_no = "TAX1", .fund_ac_no = "FUND1",
            .workpermit_duration = 24, .emp_pass_expiry = "2011-09-30"};
  }
};

TEST_F(ResidencyTest, ByWholeLevyClass) {
  AddEmployee(Holder("PR"));
  AddEmployee(Holder("CLASS1"));
  AddEmployee(Holder("NONE"));
  AddEmployee(Holder("WP"));
  AddEmployee(Holder("PRX"));
  Run();
  EXPECT_EQ(EmployeeFile(), Crlf({"Permanent Residence|FUND1|0||", "Citizen|FUND1|0||", "Employment Pass|TAX1|0||",
                                  "Work Permit|TAX1|24|30/09/2011|", "Work Permit|TAX1|24|30/09/2011|"}));
}

TEST_F(ResidencyTest, EmptyPassExpiryPrintsDayZero) {
  Employee e = Holder("WP");
  e.emp_pass_expiry.reset();
  AddEmployee(e);
  Run();
  EXPECT_EQ(EmployeeFile(), "Work Permit|TAX1|24|30/12/1899|\r\n");
}

class FormulaTest : public ResolverTest {
 protected:
  void SetUp() override {
    ResolverTest::SetUp();
    AddTemplate({.no = 1, .field_name = "NRIC_NO", .delimiter = "|", .table = "FORMULA"});
    AddTemplate({.no = 2, .field_name = "FIN_NO", .delimiter = "|", .table = "FORMULA"});
    AddTemplate({.no = 3, .field_name = "PR_NO", .delimiter = "|", .table = "FORMULA"});
    AddTemplate({.no = 4, .field_name = "PR", .delimiter = "|", .table = "FORMULA"});
  }
};

TEST_F(FormulaTest, IdentityValuesByLevyBeginning) {
  AddEmployee({.emp_no = "1", .fund_levy = "CLASS1", .new_ic = "S1234567A", .income_tax_ac_no = "F1"});
  AddEmployee({.emp_no = "2", .fund_levy = "PRX", .new_ic = "T7654321B", .income_tax_ac_no = "F2"});
  AddEmployee({.emp_no = "3", .fund_levy = "WP", .new_ic = "G1111111C", .income_tax_ac_no = "F3"});
  AddEmployee({.emp_no = "4", .fund_levy = "CLASS12", .new_ic = "s2222222D", .income_tax_ac_no = "F4"});
  AddEmployee({.emp_no = "5", .fund_levy = "pr", .new_ic = "", .income_tax_ac_no = "F5"});
  Run();
  EXPECT_EQ(EmployeeFile(), Crlf({"S1234567A||S1234567A|FALSE|", "T7654321B|||TRUE|", "|F3|G1111111C|FALSE|",
                                  "||s2222222D|FALSE|", "|F5||FALSE|"}));
}

}  // namespace
}  // namespace export_test
