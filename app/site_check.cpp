#include "app/site_check.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <functional>
#include <memory>
#include <vector>

#include "app/configuration.h"
#include "app/main_window.h"
#include "app/run_lock.h"
#include "app/run_paths.h"
#include "data/connection.h"
#include "data/query.h"
#include "data/table.h"
#include "exports/credentials.h"
#include "exports/employee_export.h"
#include "exports/leave_csv.h"
#include "exports/leave_days.h"
#include "exports/template_check.h"
#include "platform/clock.h"
#include "platform/output_file.h"
#include "platform/ui_application.h"
#include "platform/ui_terminal.h"
#include "util/connection_path.h"
#include "util/error.h"

namespace {

// The temporary files the check makes and removes again.
constexpr char kProbeFilePrefix[] = ".kdx-interface-check-";
constexpr char kLogFileName[] = "LOG.TXT";

// The folder part of `path`, up to and including its last "/"; empty for a
// name in the working folder.
std::string FolderOf(const std::string& path) {
  const size_t cut = path.rfind('/');
  return cut == std::string::npos ? std::string() : path.substr(0, cut + 1);
}

std::string WorkingFolder() {
  std::vector<char> buf(4096);
  return ::getcwd(buf.data(), buf.size()) != nullptr ? std::string(buf.data()) + "/" : std::string("./");
}

// Creates a file in `folder` ("" is the working folder) and removes it: 0, or
// the errno value of the failure.
int ProbeFolder(const std::string& folder) {
  std::string name = (folder.empty() ? std::string("./") : folder) + kProbeFilePrefix + "XXXXXX";
  const int fd = ::mkstemp(name.data());
  if (fd < 0) return errno;
  ::close(fd);
  return ::unlink(name.c_str()) == 0 ? 0 : errno;
}

// How a run reports a file error of `err`, e.g. "File access denied".
std::string RunErrorFor(int err) { return EInOutError(InOutErrorCodeFromErrno(err)).what(); }

int64_t CountRows(TAdsDataSet& dataset) {
  int64_t rows = 0;
  for (dataset.GoFirst(); !dataset.AtEof(); dataset.GoNext()) ++rows;
  return rows;
}

std::string Describe(const TAdsTable& table) {
  return table.TableName() + " (" + table.Name() + "), index " + table.IndexFieldNames();
}

class Checker {
 public:
  Checker(TForm1& form, CheckMode mode) : form_(form), c_(form.Components()), mode_(mode) {}

  SiteCheckReport Run() {
    Configuration();
    RunPaths();
    ProgramFolder();
    if (mode_ == CheckMode::kUnattended) {
      OutputPath("employee file", "EMPLOYEE_PATH", form_.State().EmployeePath);
      OutputPath("leave-day file", "LEAVE_PATH", form_.State().LeavePath);
    } else {
      OutputPath("leave CSV", "LEAVE_PATH", LeaveCsvFileName(form_));
    }
    if (Connect()) {
      if (mode_ == CheckMode::kUnattended) {
        UnattendedDatasets();
      } else {
        LeaveCsvDatasets();
      }
    }
    if (report_.current_employees) Info("current employees: " + std::to_string(*report_.current_employees));
    if (report_.leave_records) {
      Info(std::string(mode_ == CheckMode::kUnattended ? "approved leave records modified today: "
                                                        : "approved leave records for the leave CSV: ") +
           std::to_string(*report_.leave_records));
    }
    return std::move(report_);
  }

 private:
  void Add(CheckLine::Kind kind, std::string text) {
    if (kind == CheckLine::Kind::kProblem) ++report_.problems;
    report_.lines.push_back({kind, std::move(text)});
  }
  void Info(std::string text) { Add(CheckLine::Kind::kInfo, std::move(text)); }
  void Ok(std::string text) { Add(CheckLine::Kind::kOk, std::move(text)); }
  void Warning(std::string text) { Add(CheckLine::Kind::kWarning, std::move(text)); }
  void Problem(std::string text) { Add(CheckLine::Kind::kProblem, std::move(text)); }

  // A step of the run: "ok" with `label` when it goes through, its error
  // otherwise.
  bool Step(const std::string& label, const std::function<void()>& step) {
    try {
      step();
    } catch (const std::exception& e) {
      Problem(e.what());
      return false;
    }
    Ok(label);
    return true;
  }

  void Configuration() {
    LoadConfiguration(form_.State(), form_.GetClock(), form_.ProgramPath());
    const std::string file = ConfigurationFilePath(form_.State().ProgramFolder);
    Info(std::string(mode_ == CheckMode::kUnattended ? "unattended run" : "leave CSV run") + ", site folder " +
         form_.State().ProgramFolder);
    struct stat st {};
    const bool found = ::stat(file.c_str(), &st) == 0;
    Info("configuration " + file + (found ? "" : " (not found: every setting takes its default)"));
    for (const ConfigurationValue& v : DescribeConfiguration(file)) {
      // SOURCE_PATH may be a server URI holding a password.
      Info("  " + v.key + "=" + ShownConnectionPath(v.value) + (v.from_file ? "" : "  (default)"));
    }
    if (!found) Warning("no " + std::string(kConfigurationFileName) + " in " + form_.State().ProgramFolder);
    for (const std::string& warning : UnknownKeyWarnings(file)) Warning(warning);
  }

  // What a run refuses before it writes anything.
  void RunPaths() {
    const RunState& state = form_.State();
    const std::vector<RunOutput> outputs = mode_ == CheckMode::kUnattended
                                               ? UnattendedOutputs(state)
                                               : LeaveCsvOutputs(state, LeaveCsvFileName(form_));
    for (const std::string& problem : RunPathProblems(state, outputs, form_.ProgramPath())) Problem(problem);
  }

  // LOG.TXT and the run lock live in the site folder.
  void ProgramFolder() {
    const std::string folder = form_.State().ProgramFolder;
    for (const char* name : {kLogFileName, kRunLockFileName}) {
      const std::string path = folder + name;
      if (::access(path.c_str(), F_OK) == 0 && ::access(path.c_str(), R_OK | W_OK) != 0) {
        const int err = errno;
        Problem(path + " exists and cannot be written: " + std::strerror(err));
      }
    }
    if (const int err = ProbeFolder(folder)) {
      Problem("site folder " + folder + " takes no new file (" + std::strerror(err) + "); " +
              "a run cannot write LOG.TXT or its lock there");
      return;
    }
    Ok("site folder " + folder + " takes new files (LOG.TXT, the run lock)");
  }

  void OutputPath(const std::string& label, const std::string& key, const std::string& path) {
    if (path.empty()) {
      Problem(label + ": " + key + " is empty; the run fails with \"" +
              EInOutError(kFileNotOpenForOutput).what() + "\"");
      return;
    }
    if (path.find('\\') != std::string::npos) {
      Warning(label + " " + path + ": \"\\\" is part of a file name on this system, not a folder separator");
    }
    // A path that is no regular file is a problem of RunPaths.
    struct stat st {};
    if (::lstat(path.c_str(), &st) == 0) {
      if (!S_ISREG(st.st_mode)) return;
      if (::access(path.c_str(), W_OK) != 0) {
        const int err = errno;
        Problem(label + " " + path + " exists and cannot be written (" + std::strerror(err) +
                "); the run fails with \"" + RunErrorFor(err) + "\"");
        return;
      }
    }
    const std::string folder = FolderOf(path);
    const std::string shown = folder.empty() ? "the working folder " + WorkingFolder() : "folder " + folder;
    if (const int err = ProbeFolder(folder)) {
      Problem(label + " " + path + ": " + shown + " takes no new file (" + std::strerror(err) +
              "); the run fails with \"" + RunErrorFor(err) + "\"");
      return;
    }
    Ok(label + " " + path + ": " + shown + " takes new files");
  }

  bool Connect() {
    TAdsConnection& connection = *c_.AdsConnection1;
    form_.PrepareConnection();
    const std::string path = connection.ConnectPath();
    const std::string what = IsServerUri(path)                      ? "server "
                             : connection.IsDictionaryConnection() ? "data dictionary "
                                                                   : "folder of free tables ";
    if (!Step("connected to the " + what + ShownConnectionPath(path), [&] { connection.SetIsConnected(true); })) {
      Info("tables and queries not checked: no connection");
      return false;
    }
    return true;
  }

  void Open(TAdsTable& table, bool with_password = false) {
    Step(Describe(table), [&] {
      table.CloseDataSet();
      table.OpenDataSet();
      if (with_password) ApplyTablePassword(table);
    });
  }

  void OpenTransactions() {
    TAdsQuery& lvtx = *c_.AdsQueryLVTX;
    Step("LEAV_TRX (" + lvtx.Name() + ")", [&] {
      lvtx.CloseDataSet();
      for (const char* name : {"ID", "EMPCODE", "LEAVE_CODE"}) lvtx.ParamNamed(name).BindText("");
      lvtx.OpenDataSet();
    });
  }

  // The tables and queries in the order the employee and leave-day exports
  // open them.
  void UnattendedDatasets() {
    Open(*c_.AdsTablePara);
    if (c_.AdsTablePara->IsActive() && !c_.AdsTablePara->HasCurrentRecord()) {
      Warning("PAYPARA1 has no rows: the company fields (COMPANY, CADDR1, CADDR2, CADDR3, CPOSTAL_CODE) would be "
              "empty in every record");
    }
    Open(*c_.TableEmpAllowance);
    Open(*c_.EmploymentTable, true);
    Step("current employees (" + c_.AdsQueryEmp->Name() + ")", [&] {
      SelectCurrentEmployees(form_);
      report_.current_employees = CountRows(*c_.AdsQueryEmp);
    });
    Open(*c_.CareerTable);
    Open(*c_.AdsTableMisc, true);
    Open(*c_.AdsTableCode);
    CheckTemplate();
    Open(*c_.AdsTableCLD);
    Step("approved leave modified today (" + c_.AdsQuerySource->Name() + ")", [&] {
      ApplyEmployeeTablePassword(*c_.AdsQuerySource);
      SelectLeaveRecords(form_);
      report_.leave_records = CountRows(*c_.AdsQuerySource);
    });
    OpenTransactions();
  }

  void LeaveCsvDatasets() {
    Step("approved leave of the day (" + c_.AdsQuerySource->Name() + ")", [&] {
      SelectLeaveCsvRecords(form_);
      report_.leave_records = CountRows(*c_.AdsQuerySource);
    });
    Step("LV_PAYGRP_SHIFT (" + c_.AdsQuerySHIFT->Name() + ")", [&] {
      c_.AdsQuerySHIFT->CloseDataSet();
      c_.AdsQuerySHIFT->OpenDataSet();
    });
    OpenTransactions();
  }

  void CheckTemplate() {
    const std::string label = "template section KDX (" + c_.TemplateQuery->Name() + ")";
    if (!Step(label, [&] { OpenTemplateSection(form_); })) return;
    const TemplateCheck check = CheckTemplateRows(form_);
    report_.lines.back().text += ": " + std::to_string(check.rows) + " rows";
    for (const TemplateFinding& finding : check.findings) {
      if (finding.problem) {
        Problem(finding.text);
      } else {
        Warning(finding.text);
      }
    }
  }

  TForm1& form_;
  const ExportComponents& c_;
  CheckMode mode_;
  SiteCheckReport report_;
};

}  // namespace

SiteCheckReport CheckSite(TForm1& form, CheckMode mode) { return Checker(form, mode).Run(); }

std::string FormatCheckReport(const SiteCheckReport& report) {
  std::string text;
  for (const CheckLine& line : report.lines) {
    switch (line.kind) {
      case CheckLine::Kind::kInfo:
        break;
      case CheckLine::Kind::kOk:
        text += "ok       ";
        break;
      case CheckLine::Kind::kWarning:
        text += "warning  ";
        break;
      case CheckLine::Kind::kProblem:
        text += "PROBLEM  ";
        break;
    }
    text += PrintableText(line.text) + "\n";
  }
  if (report.problems == 0) {
    text += "result: no problems; a run can start\n";
  } else {
    text += "result: " + std::to_string(report.problems) + (report.problems == 1 ? " problem" : " problems") +
            "; a run would not go through as it should\n";
  }
  return text;
}
