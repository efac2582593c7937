// The leave-day export: selection, the three ways a leave is split into days,
// the tally check, the separator, and what the file and LOG.TXT hold in every
// outcome.
#include "exports/leave_days.h"

#include "exports/employee_export.h"
#include "tests/exports/export_fixture.h"

namespace export_test {
namespace {

constexpr char kLogLine[] = "LEAVE DATA DOWNLOADED DATE : 15/06/2010  100006\r\n";
constexpr char kOldLog[] = "LEAVE DATA DOWNLOADED DATE : 01/01/2010  090001\r\n";

class LeaveDaysTest : public ExportFixture {
 protected:
  void SetUp() override {
    ExportFixture::SetUp();
    AddEmployee({.emp_no = "E1"});
    AddEmployee({.emp_no = "E2"});
    state().FieldSeparator = ",";
    std::ofstream(state().ProgramFolder + "LOG.TXT", std::ios::binary) << kOldLog;
  }
  void Run() {
    host().PrepareConnection();
    ExportLeaveDays(host());
  }
  std::string RunError() {
    return ErrorOf([&] { Run(); });
  }
  // A leave of E1 modified on the run's date.
  static Leave LeaveOf(int id, const std::string& start, const std::string& end, double day) {
    return {.empcode = "E1", .id = id, .start_date = start, .end_date = end, .day = day, .ampm = "AM",
            .modified_date = "2010-06-15", .remark1 = "note"};
  }
};

TEST_F(LeaveDaysTest, NoQualifyingLeaveGivesEmptyFileAndRewritesLog) {
  Leave old = LeaveOf(1, "2010-06-01", "2010-06-01", 1);
  old.modified_date = "2010-06-14";
  AddLeave(old);
  Leave refused = LeaveOf(2, "2010-06-02", "2010-06-02", 1);
  refused.aprroved = "N";
  AddLeave(refused);
  Leave stranger = LeaveOf(3, "2010-06-03", "2010-06-03", 1);
  stranger.empcode = "X9";
  AddLeave(stranger);
  { std::ofstream(state().LeavePath) << "old lines\r\n"; }
  Run();
  ASSERT_TRUE(Exists(state().LeavePath));
  EXPECT_EQ(LeaveFile(), "");
  EXPECT_EQ(LogFile(), kLogLine);
  EXPECT_EQ(host().caption(), "EXPORTING LEAVE DATABASE...");
  EXPECT_FALSE(host().Output().IsOpen());
}

TEST_F(LeaveDaysTest, ApprovalZAndYAreBothSelected) {
  Leave z = LeaveOf(1, "2010-06-01", "2010-06-01", 1);
  z.aprroved = "Z";
  AddLeave(z);
  Leave y = LeaveOf(2, "2010-06-02", "2010-06-02", 0.5);
  y.empcode = "E2";
  AddLeave(y);
  Run();
  EXPECT_EQ(LeaveFile(), "E1,AL,01/06/2010,1.00,Z,AM,note\r\nE2,AL,02/06/2010,0.50,Z,AM,note\r\n");
  EXPECT_EQ(host().status_texts(),
            (std::vector<std::string>{"Export Leave Data# : E1", "Export Leave Data# : E2"}));
  EXPECT_EQ(host().progress_steps(), 2);
  EXPECT_EQ(host().messages_processed(), 2);
}

TEST_F(LeaveDaysTest, TransactionRowsAddUpToTheLeave) {
  AddLeave(LeaveOf(7, "2010-06-14", "2010-06-15", 1.5));
  AddLeaveTrx({.id = 7, .empcode = "E1", .leave_code = "AL", .date = "2010-06-14", .day = 1, .approved = "Y"});
  AddLeaveTrx({.id = 7, .empcode = "E1", .leave_code = "AL", .date = "2010-06-15", .day = 0.5, .approved = "Z"});
  // Rows of another leave, employee or code are not this leave's.
  AddLeaveTrx({.id = 8, .empcode = "E1", .leave_code = "AL", .date = "2010-06-14", .day = 1});
  AddLeaveTrx({.id = 7, .empcode = "E2", .leave_code = "AL", .date = "2010-06-14", .day = 1});
  AddLeaveTrx({.id = 7, .empcode = "E1", .leave_code = "SL", .date = "2010-06-14", .day = 1});
  Run();
  EXPECT_EQ(LeaveFile(), "E1,AL,14/06/2010,1,Y,AM,note\r\nE1,AL,15/06/2010,0.5,Z,AM,note\r\n");
  EXPECT_EQ(LogFile(), kLogLine);
}

TEST_F(LeaveDaysTest, TransactionRowOutsideTheDatesIsNeitherWrittenNorCounted) {
  AddLeave(LeaveOf(7, "2010-06-14", "2010-06-15", 1.5));
  AddLeaveTrx({.id = 7, .empcode = "E1", .date = "2010-06-14", .day = 1});
  AddLeaveTrx({.id = 7, .empcode = "E1", .date = "2010-06-15", .day = 0.5});
  AddLeaveTrx({.id = 7, .empcode = "E1", .date = "2010-06-16", .day = 1});
  Run();
  EXPECT_EQ(LeaveFile(), "E1,AL,14/06/2010,1,Y,AM,note\r\nE1,AL,15/06/2010,0.5,Y,AM,note\r\n");
}

TEST_F(LeaveDaysTest, TallyErrorStopsTheRunAndLeavesThePreviousFile) {
  { std::ofstream(state().LeavePath) << "last night\r\n"; }
  AddLeave(LeaveOf(7, "2010-06-14", "2010-06-15", 1.5));
  AddLeaveTrx({.id = 7, .empcode = "E1", .date = "2010-06-14", .day = 1});
  AddLeaveTrx({.id = 7, .empcode = "E1", .date = "2010-06-16", .day = 0.5});
  Leave later = LeaveOf(8, "2010-06-20", "2010-06-20", 1);
  later.empcode = "E2";
  AddLeave(later);
  EXPECT_EQ(RunError(), "Leave day is not tally!. Employee# E1 Record ID 7");
  EXPECT_EQ(LeaveFile(), "last night\r\n");
  EXPECT_EQ(LogFile(), kOldLog);
  EXPECT_FALSE(host().Output().IsOpen());
}

// Each row's DAY x 10000 is added to the sum and the sum is then rounded,
// halves to even: 1 unit + 0.5 unit makes 2 units, which tallies with a leave
// of 2 units (rounding each row first would give 1 + 0 and a false error).
TEST_F(LeaveDaysTest, TallyRoundsTheRunningSumNotEachRow) {
  // Day amounts finer than the usual two decimals.
  Sql("EMPLEAVE.ADT",
      "DROP TABLE EMPLEAVE;"
      "CREATE TABLE EMPLEAVE (EMPCODE CHAR(12), ID INTEGER, LEAVE_CODE CHAR(8), START_DATE DATE,"
      " END_DATE DATE, DAY DOUBLE, AMPM CHAR(2), MODIFIED_DATE DATE, APRROVED CHAR(1),"
      " APPROVED_DATE DATE, REMARK1 CHAR(40), EMP_NAME CHAR(40), TIMEIN TIMESTAMP, TIMEOUT TIMESTAMP);");
  Sql("LEAV_TRX.ADT",
      "DROP TABLE LEAV_TRX;"
      "CREATE TABLE LEAV_TRX (ID INTEGER, EMPCODE CHAR(12), LEAVE_CODE CHAR(8), DATE DATE, DAY DOUBLE,"
      " APPROVED CHAR(1), SHIFT CHAR(8));");
  AddLeave(LeaveOf(7, "2010-06-14", "2010-06-15", 0.0002));
  AddLeaveTrx({.id = 7, .empcode = "E1", .date = "2010-06-14", .day = 0.0001});
  AddLeaveTrx({.id = 7, .empcode = "E1", .date = "2010-06-15", .day = 0.00005});
  Run();
  EXPECT_EQ(LeaveFile(), "E1,AL,14/06/2010,0.0001,Y,AM,note\r\nE1,AL,15/06/2010,0.00005,Y,AM,note\r\n");
  EXPECT_EQ(LogFile(), kLogLine);
}

TEST_F(LeaveDaysTest, OneDayLeaveCarriesItsOwnAmountWhateverTheCalendar) {
  AddLeave(LeaveOf(1, "2010-06-13", "2010-06-13", 0.5));
  AddCalendar("E1", "2010-06-13", "R");
  Run();
  EXPECT_EQ(LeaveFile(), "E1,AL,13/06/2010,0.50,Z,AM,note\r\n");
}

TEST_F(LeaveDaysTest, CalendarFullHalfFullNeverExceedsTheTotal) {
  AddLeave(LeaveOf(1, "2010-06-14", "2010-06-16", 2));
  AddCalendar("E1", "2010-06-14", "F");
  AddCalendar("E1", "2010-06-15", "H");
  AddCalendar("E1", "2010-06-16", "F");
  Run();
  EXPECT_EQ(LeaveFile(), Crlf({"E1,AL,14/06/2010,1.00,Z,AM,note", "E1,AL,15/06/2010,0.50,Z,AM,note",
                               "E1,AL,16/06/2010,0.50,Z,AM,note"}));
}

TEST_F(LeaveDaysTest, CalendarWalkStopsWhenTheTotalIsUsedUp) {
  AddLeave(LeaveOf(1, "2010-06-14", "2010-06-18", 2));
  for (const char* day : {"2010-06-14", "2010-06-15", "2010-06-16", "2010-06-17", "2010-06-18"}) {
    AddCalendar("E1", day, "F");
  }
  Run();
  EXPECT_EQ(LeaveFile(), Crlf({"E1,AL,14/06/2010,1.00,Z,AM,note", "E1,AL,15/06/2010,1.00,Z,AM,note"}));
}

TEST_F(LeaveDaysTest, LastCalendarDayCarriesOnlyWhatRemains) {
  AddLeave(LeaveOf(1, "2010-06-14", "2010-06-15", 1.5));
  AddCalendar("E1", "2010-06-14", "F");
  AddCalendar("E1", "2010-06-15", "F");
  Run();
  EXPECT_EQ(LeaveFile(), Crlf({"E1,AL,14/06/2010,1.00,Z,AM,note", "E1,AL,15/06/2010,0.50,Z,AM,note"}));
}

TEST_F(LeaveDaysTest, RestDaysAndLowerCaseCodesAreSkipped) {
  AddLeave(LeaveOf(1, "2010-06-11", "2010-06-15", 2));
  AddCalendar("E1", "2010-06-11", "f");
  AddCalendar("E1", "2010-06-12", "R");
  AddCalendar("E1", "2010-06-13", "");
  AddCalendar("E1", "2010-06-14", "F");
  AddCalendar("E1", "2010-06-15", "F");
  Run();
  EXPECT_EQ(LeaveFile(), Crlf({"E1,AL,14/06/2010,1.00,Z,AM,note", "E1,AL,15/06/2010,1.00,Z,AM,note"}));
}

TEST_F(LeaveDaysTest, DayWithoutCalendarRowIsSkippedAndReusesNothing) {
  // The first leave meets an "H" day; the second leave's days have no
  // calendar rows and must not borrow that half day.
  AddLeave(LeaveOf(1, "2010-06-14", "2010-06-16", 2));
  AddCalendar("E1", "2010-06-14", "H");
  AddCalendar("E1", "2010-06-16", "F");
  Leave second = LeaveOf(2, "2010-06-21", "2010-06-22", 2);
  second.empcode = "E2";
  AddLeave(second);
  AddCalendar("E1", "2010-06-21", "F");
  Run();
  EXPECT_EQ(LeaveFile(), Crlf({"E1,AL,14/06/2010,0.50,Z,AM,note", "E1,AL,16/06/2010,1.00,Z,AM,note"}));
}

TEST_F(LeaveDaysTest, EndBeforeStartWritesNothing) {
  AddLeave(LeaveOf(1, "2010-06-16", "2010-06-14", 2));
  AddCalendar("E1", "2010-06-14", "F");
  AddCalendar("E1", "2010-06-15", "F");
  AddCalendar("E1", "2010-06-16", "F");
  Run();
  EXPECT_EQ(LeaveFile(), "");
}

TEST_F(LeaveDaysTest, SemicolonSeparatorIsUsedAndValuesAreNotEscaped) {
  state().FieldSeparator = ";";
  Leave l = LeaveOf(1, "2010-06-14", "2010-06-14", 1);
  l.remark1 = "back; on Monday";
  l.ampm = "PM";
  AddLeave(l);
  Run();
  EXPECT_EQ(LeaveFile(), "E1;AL;14/06/2010;1.00;Z;PM;back; on Monday\r\n");
  EXPECT_EQ(state().FieldSeparator, ";");
}

TEST_F(LeaveDaysTest, ControlCharactersAreWrittenAsBlanksAndWarnedOf) {
  AddLeave(LeaveOf(1, "2010-06-15", "2010-06-15", 1));
  Sql("EMPLEAVE.ADT", "UPDATE EMPLEAVE SET REMARK1 = 'two' || char(13) || char(10) || 'lines'");
  Run();
  EXPECT_EQ(LeaveFile(), "E1,AL,15/06/2010,1.00,Z,AM,two  lines\r\n");
  EXPECT_EQ(state().Warnings,
            std::vector<std::string>{"leave-day file: 2 control characters (CR, LF, NUL or the like) written as "
                                     "blanks, the first in column REMARK1 of the leave of employee E1"});
}

TEST_F(LeaveDaysTest, EmptySeparatorBecomesComma) {
  state().FieldSeparator = "";
  AddLeave(LeaveOf(1, "2010-06-14", "2010-06-14", 1));
  Run();
  EXPECT_EQ(LeaveFile(), "E1,AL,14/06/2010,1.00,Z,AM,note\r\n");
  EXPECT_EQ(state().FieldSeparator, ",");
}

TEST_F(LeaveDaysTest, EmptyLeavePathFailsWithIoError105) {
  state().LeavePath = "";
  AddLeave(LeaveOf(1, "2010-06-14", "2010-06-14", 1));
  EXPECT_EQ(RunError(), "I/O error 105: no file name (LEAVE_PATH is empty)");
  EXPECT_EQ(LogFile(), kOldLog);
}

TEST_F(LeaveDaysTest, LeavePathInMissingFolderIsAFileError) {
  state().LeavePath = Root() + "/no-such-folder/leave.txt";
  EXPECT_EQ(RunError(), "Invalid filename: '" + state().LeavePath + "' (LEAVE_PATH)");
  EXPECT_EQ(LogFile(), kOldLog);
}

TEST_F(LeaveDaysTest, MissingCalendarColumnIsADatabaseError) {
  Sql("EMP_CLD.ADT", "ALTER TABLE EMP_CLD RENAME COLUMN WORKCODE TO WORK_CODE");
  AddLeave(LeaveOf(1, "2010-06-14", "2010-06-14", 1));
  AddLeave(LeaveOf(2, "2010-06-14", "2010-06-15", 1));
  AddCalendar("E1", "2010-06-14", "F");
  const std::string error = RunError();
  EXPECT_NE(error.find("WORKCODE"), std::string::npos) << error;
  EXPECT_FALSE(Exists(state().LeavePath));
  EXPECT_EQ(LogFile(), kOldLog);
}

TEST_F(LeaveDaysTest, WriteFailureLeavesLogUntouched) {
  AddLeave(LeaveOf(1, "2010-06-14", "2010-06-14", 1));
  host().file_system().FailWritesFrom(1);
  EXPECT_EQ(RunError(), "Disk full: '" + state().LeavePath + "' (LEAVE_PATH)");
  EXPECT_EQ(LogFile(), kOldLog);
  EXPECT_FALSE(host().Output().IsOpen());
}

// The employee export of the same run prepares the connection and hands on
// the template's separator.
TEST_F(LeaveDaysTest, FollowsTheEmployeeExportOfTheSameRun) {
  state().FieldSeparator = "";
  AddTemplate({.no = 1, .field_name = "emp_no", .delimiter = "|"});
  AddLeave(LeaveOf(1, "2010-06-14", "2010-06-14", 1));
  ExportEmployees(host());
  ExportLeaveDays(host());
  EXPECT_EQ(EmployeeFile(), "E1|\r\nE2|\r\n");
  EXPECT_EQ(LeaveFile(), "E1|AL|14/06/2010|1.00|Z|AM|note\r\n");
  EXPECT_EQ(LogFile(), kLogLine);
}

}  // namespace
}  // namespace export_test
