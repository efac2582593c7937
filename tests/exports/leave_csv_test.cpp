// The leave CSV mode: the dated file, whole-leave and day lines, shifts
// found and not found, the caption, and how the run ends on each failure.
#include "exports/leave_csv.h"

#include "tests/exports/export_fixture.h"

namespace export_test {
namespace {

constexpr char kHeader[] = "EMP_NO,LVCODE,DESC,ENTRY_DATE,START_DATE,END_DATE,DAY,AMPM,TIMEIN,TIMEOUT,APPROVED";
constexpr char kLogLine[] = "LEAVE DATA DOWNLOADED DATE : 15/06/2010  100006\r\n";
constexpr char kOldLog[] = "LEAVE DATA DOWNLOADED DATE : 01/01/2010  090001\r\n";

class LeaveCsvTest : public ExportFixture {
 protected:
  void SetUp() override {
    ExportFixture::SetUp();
    state().LeavePath = OutFolder() + "/";
    AddCode("LEA", "AL", "Annual", "A01", "Annual leave");
    AddCode("LEA", "SL", "Sick", "S01", "Sick, with certificate");
    AddCode("OTH", "XX", "Other", "X01", "Not a leave code");
    AddShift("M1", "AM", "2000-01-01 08:30:00", "2000-01-01 12:45:00");
    AddShift("E1", "PM", "2000-01-01 13:30:00", "2000-01-01 17:30:00");
    std::ofstream(state().ProgramFolder + "LOG.TXT", std::ios::binary) << kOldLog;
  }
  std::string CsvPath() const { return OutFolder() + "/LVDATA15062010.CSV"; }
  std::string CsvFile() const { return ReadBytes(CsvPath()); }
  static Leave Approved(const std::string& empcode, int id, const std::string& code, const std::string& start,
                        const std::string& end, double day) {
    return {.empcode = empcode, .id = id, .leave_code = code, .start_date = start, .end_date = end, .day = day,
            .ampm = "AM", .modified_date = "2010-06-10", .aprroved = "Y", .approved_date = "2010-06-15"};
  }
};

TEST_F(LeaveCsvTest, HeaderOnlyWhenNothingQualifies) {
  Leave yesterday = Approved("E1", 1, "AL", "2010-06-14", "2010-06-14", 1);
  yesterday.approved_date = "2010-06-14";
  AddLeave(yesterday);
  Leave refused = Approved("E1", 2, "AL", "2010-06-14", "2010-06-14", 1);
  refused.aprroved = "N";
  AddLeave(refused);
  AddLeave(Approved("E1", 3, "XX", "2010-06-14", "2010-06-14", 1));
  EXPECT_TRUE(ExportLeaveCsv(host()));
  EXPECT_EQ(CsvFile(), std::string(kHeader) + "\r\n");
  EXPECT_EQ(LogFile(), kLogLine);
  EXPECT_TRUE(host().messages().empty());
  EXPECT_FALSE(host().wait_cursor());
}

TEST_F(LeaveCsvTest, ModifiedDateAloneDoesNotSelect) {
  // Only the first date1/date2 places are bound: the MODIFIED_DATE window
  // compares with empty parameters and selects nothing.
  Leave modified = Approved("E1", 1, "AL", "2010-06-14", "2010-06-14", 1);
  modified.modified_date = "2010-06-15";
  modified.approved_date = "2010-06-01";
  AddLeave(modified);
  EXPECT_TRUE(ExportLeaveCsv(host()));
  EXPECT_EQ(CsvFile(), std::string(kHeader) + "\r\n");
}

TEST_F(LeaveCsvTest, WholeLeaveLineWithoutTransactions) {
  Leave l = Approved("E1", 1, "AL", "2010-06-14", "2010-06-16", 2.5);
  l.aprroved = "Z";
  AddLeave(l);
  EXPECT_TRUE(ExportLeaveCsv(host()));
  const std::string line = "E1,A01,Annual leave,20100610,20100614,20100616,2.50,,,,Z";
  EXPECT_EQ(CsvFile(), Crlf({kHeader, line}));
  EXPECT_EQ(std::count(line.begin(), line.end(), ','), 10);
  EXPECT_EQ(host().caption(), line);
}

TEST_F(LeaveCsvTest, TransactionsWithoutShiftsGiveOneWholeLeaveLine) {
  AddLeave(Approved("E1", 1, "AL", "2010-06-14", "2010-06-15", 2));
  AddLeaveTrx({.id = 1, .empcode = "E1", .leave_code = "AL", .date = "2010-06-14", .day = 1});
  AddLeaveTrx({.id = 1, .empcode = "E1", .leave_code = "AL", .date = "2010-06-15", .day = 1});
  EXPECT_TRUE(ExportLeaveCsv(host()));
  EXPECT_EQ(CsvFile(), Crlf({kHeader, "E1,A01,Annual leave,20100610,20100614,20100615,2.00,,,,Y"}));
}

TEST_F(LeaveCsvTest, OneShiftedRowMakesEveryRowADayLine) {
  AddLeave(Approved("E1", 1, "AL", "2010-06-14", "2010-06-16", 2));
  AddLeaveTrx({.id = 1, .empcode = "E1", .leave_code = "AL", .date = "2010-06-14", .day = 1, .shift = ""});
  AddLeaveTrx({.id = 1, .empcode = "E1", .leave_code = "AL", .date = "2010-06-15", .day = 0.5, .shift = "M1"});
  AddLeaveTrx({.id = 1, .empcode = "E1", .leave_code = "AL", .date = "2010-06-16", .day = 0.5, .shift = "N9"});
  EXPECT_TRUE(ExportLeaveCsv(host()));
  const std::string not_found = "E1,A01,Annual leave,20100610,20100616,20100616,0.50,,,,Y";
  EXPECT_EQ(CsvFile(), Crlf({kHeader, "E1,A01,Annual leave,20100610,20100614,20100614,1.00,,,,Y",
                             "E1,A01,Annual leave,20100610,20100615,20100615,0.50,AM,0830,1245,Y", not_found}));
  EXPECT_EQ(std::count(not_found.begin(), not_found.end(), ','), 10);
  EXPECT_EQ(host().caption(), not_found);
}

TEST_F(LeaveCsvTest, ShiftIsMatchedExactly) {
  AddLeave(Approved("E1", 1, "AL", "2010-06-14", "2010-06-14", 1));
  AddLeaveTrx({.id = 1, .empcode = "E1", .date = "2010-06-14", .day = 1, .shift = "e1"});
  Leave second = Approved("E2", 2, "SL", "2010-06-15", "2010-06-15", 1);
  AddLeave(second);
  AddLeaveTrx({.id = 2, .empcode = "E2", .leave_code = "SL", .date = "2010-06-15", .day = 1, .shift = "E1"});
  EXPECT_TRUE(ExportLeaveCsv(host()));
  EXPECT_EQ(CsvFile(), Crlf({kHeader, "E1,A01,Annual leave,20100610,20100614,20100614,1.00,,,,Y",
                             "E2,S01,Sick, with certificate,20100610,20100615,20100615,1.00,PM,1330,1730,Y"}));
}

TEST_F(LeaveCsvTest, CaptionIsAssembledFieldByField) {
  AddLeave(Approved("E1", 1, "AL", "2010-06-14", "2010-06-14", 1));
  EXPECT_TRUE(ExportLeaveCsv(host()));
  // Seven fields, the three empty ones in one step, then APRROVED.
  EXPECT_EQ(host().caption_changes(), 9);
  EXPECT_EQ(host().caption(), "E1,A01,Annual leave,20100610,20100614,20100614,1.00,,,,Y");
}

TEST_F(LeaveCsvTest, SecondRunOfTheDayReplacesTheFile) {
  AddLeave(Approved("E1", 1, "AL", "2010-06-14", "2010-06-14", 1));
  AddLeave(Approved("E2", 2, "AL", "2010-06-14", "2010-06-14", 1));
  EXPECT_TRUE(ExportLeaveCsv(host()));
  Sql("EMPLEAVE.ADT", "DELETE FROM EMPLEAVE WHERE EMPCODE = 'E2'");
  SetNow(RunMoment() + EncodeTime(2, 0, 0, 0));
  EXPECT_TRUE(ExportLeaveCsv(host()));
  EXPECT_EQ(CsvFile(), Crlf({kHeader, "E1,A01,Annual leave,20100610,20100614,20100614,1.00,,,,Y"}));
  EXPECT_EQ(LogFile(), "LEAVE DATA DOWNLOADED DATE : 15/06/2010  120006\r\n");
}

TEST_F(LeaveCsvTest, LeavePathIsAPlainPrefix) {
  state().LeavePath = OutFolder() + "/csv";
  EXPECT_TRUE(ExportLeaveCsv(host()));
  EXPECT_TRUE(Exists(OutFolder() + "/csvLVDATA15062010.CSV"));
  EXPECT_FALSE(Exists(CsvPath()));
}

TEST_F(LeaveCsvTest, UncreatableFileEndsTheRunWithSaveFileFailed) {
  state().LeavePath = Root() + "/no-such-folder/";
  AddLeave(Approved("E1", 1, "AL", "2010-06-14", "2010-06-14", 1));
  EXPECT_FALSE(ExportLeaveCsv(host()));
  EXPECT_EQ(host().messages(), std::vector<std::string>{"Save file failed: Invalid filename: '" + Root() +
                                                        "/no-such-folder/LVDATA15062010.CSV' (LEAVE_PATH, "
                                                        "followed by the dated name)"});
  EXPECT_EQ(LogFile(), kOldLog);
  EXPECT_FALSE(host().wait_cursor());
}

TEST_F(LeaveCsvTest, DatabaseErrorIsShownAndLeavesLogUntouched) {
  std::filesystem::remove(TableFile("LV_PAYGRP_SHIFT.ADT"));
  AddLeave(Approved("E1", 1, "AL", "2010-06-14", "2010-06-14", 1));
  EXPECT_FALSE(ExportLeaveCsv(host()));
  ASSERT_EQ(host().messages().size(), 1u);
  EXPECT_NE(host().messages()[0].find("AdsQuerySHIFT"), std::string::npos) << host().messages()[0];
  EXPECT_EQ(LogFile(), kOldLog);
  EXPECT_FALSE(Exists(CsvPath()));
}

TEST_F(LeaveCsvTest, WriteFailureLeavesNoFileAndIsShown) {
  AddLeave(Approved("E1", 1, "AL", "2010-06-14", "2010-06-14", 1));
  host().file_system().FailWritesFrom(1);
  EXPECT_FALSE(ExportLeaveCsv(host()));
  EXPECT_EQ(host().messages(),
            std::vector<std::string>{"Disk full: '" + CsvPath() + "' (LEAVE_PATH, followed by the dated name)"});
  EXPECT_EQ(LogFile(), kOldLog);
  EXPECT_FALSE(Exists(CsvPath()));
  // The hourglass stays as the failure left it.
  EXPECT_TRUE(host().wait_cursor());
}

TEST_F(LeaveCsvTest, WriterDoesNothingWithoutAnOpenQueryOrAName) {
  TAdsQuery& source = *host().Components().AdsQuerySource;
  EXPECT_EQ(WriteLeaveCsv(host(), source, CsvPath()), 1);
  EXPECT_FALSE(Exists(CsvPath()));
  host().PrepareConnection();
  source.SetSqlText("select * from CODE");
  source.OpenDataSet();
  EXPECT_EQ(WriteLeaveCsv(host(), source, ""), 1);
  EXPECT_TRUE(host().messages().empty());
}

TEST_F(LeaveCsvTest, HasShiftedDaysLeavesTheFirstRowCurrent) {
  AddLeaveTrx({.id = 5, .empcode = "E1", .leave_code = "AL", .date = "2010-06-14", .day = 1});
  AddLeaveTrx({.id = 5, .empcode = "E1", .leave_code = "AL", .date = "2010-06-15", .day = 1, .shift = "M1"});
  host().PrepareConnection();
  TAdsQuery& lvtx = *host().Components().AdsQueryLVTX;
  lvtx.ParamNamed("ID").BindText("5");
  lvtx.ParamNamed("EMPCODE").BindText("E1");
  lvtx.ParamNamed("LEAVE_CODE").BindText("AL");
  lvtx.OpenDataSet();
  EXPECT_TRUE(HasShiftedDays(host()));
  EXPECT_EQ(lvtx.ColumnByName("DATE").ReadText(), "14/06/2010");
  lvtx.CloseDataSet();
  lvtx.ParamNamed("ID").BindText("6");
  lvtx.OpenDataSet();
  EXPECT_FALSE(HasShiftedDays(host()));
}

}  // namespace
}  // namespace export_test
