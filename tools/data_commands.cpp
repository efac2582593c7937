// kdx-db sample, import, query and check: the command lines of the tools in
// sample_database.h, table_import.h, query_csv.h and database_check.h.
// Passwords come from tools/password_source.h; none is built in.
#include <fmt/format.h>
#include <stdlib.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iostream>

#include "engine/storage.h"
#include "tools/commands.h"
#include "tools/database_check.h"
#include "tools/number_option.h"
#include "tools/password_source.h"
#include "tools/query_csv.h"
#include "tools/sample_database.h"
#include "tools/server_database.h"
#include "tools/table_import.h"

namespace {

// The login the program makes on a dictionary connection: the account a
// sample dictionary is written with, and the user a query logs in as unless
// --user names another.
constexpr char kProgramUser[] = "GLOVERUN4";
constexpr char kProgramPassword[] = "BRISKOLDENT";

// The largest sample: ten million employees, a thousand million leaves.
constexpr uint64_t kMaxSampleEmployees = 10'000'000;
constexpr uint64_t kMaxSampleLeaves = 1'000'000'000;

// What kdx-db says when a folder's sealed tables get no password.
constexpr char kNoTablePassword[] =
    "no table password given: its sealed tables cannot be read (give --password-file FILE, set KDX_DB_PASSWORD, or "
    "type it when asked on the terminal)";

// Whether the folder `path` holds a sealed table file.
bool HoldsSealedTables(const std::string& path) {
  std::error_code ec;
  if (!std::filesystem::is_directory(path, ec)) return false;
  for (const auto& entry : std::filesystem::directory_iterator(path, ec)) {
    if (entry.is_regular_file(ec) && IsSealedFile(entry.path().string())) return true;
  }
  return false;
}

// A CSV file named "-": standard input, copied into a file of its own
// ("stdin.csv", so that messages name it so) in a fresh temporary folder,
// removed again with the object.
class StandardInputCsv {
 public:
  StandardInputCsv() {
    const char* tmp = std::getenv("TMPDIR");
    std::string folder = std::string(tmp != nullptr && tmp[0] != '\0' ? tmp : "/tmp") + "/kdx-db-XXXXXX";
    if (::mkdtemp(folder.data()) == nullptr) return;
    folder_ = folder;
    path_ = folder_ + "/stdin.csv";
    std::ofstream out(path_, std::ios::binary);
    out << std::cin.rdbuf();
    if (!out) path_.clear();
  }
  ~StandardInputCsv() {
    std::error_code ec;
    if (!folder_.empty()) std::filesystem::remove_all(folder_, ec);
  }
  StandardInputCsv(const StandardInputCsv&) = delete;
  StandardInputCsv& operator=(const StandardInputCsv&) = delete;
  // Empty when standard input could not be copied.
  const std::string& Path() const { return path_; }

 private:
  std::string folder_;
  std::string path_;
};

void RegisterSample(CLI::App& app, int* exit_status) {
  struct Args {
    std::string folder;
    int employees = 1000;
    int64_t leaves = -1;
    uint64_t seed = 1;
    bool unsealed = false;
    bool dictionary = false;
  };
  auto args = std::make_shared<Args>();
  CLI::App* cmd = app.add_subcommand(
      "sample",
      "Write a sample HR database that exercises every path of the exports: a folder of free tables, or the tables "
      "of an empty server database (postgresql:// URI)");
  cmd->add_option("DIR", args->folder,
                  "Folder to write (created when missing), or a postgresql:// URI of an empty database; must not "
                  "hold the tables already")
      ->required();
  cmd->add_option("--employees", args->employees, "Number of employees")
      ->capture_default_str()
      ->check(WholeNumber(kMaxSampleEmployees));
  cmd->add_option("--leaves", args->leaves,
                  "Write exactly this many leave records selected by today's leave-day export, spread over the "
                  "employees (at most 100 each); by default some of the employees' own leave is")
      ->check(WholeNumber(kMaxSampleLeaves));
  cmd->add_option("--seed", args->seed, "Random seed: the same seed on the same day gives the same data")
      ->capture_default_str()
      ->check(WholeNumber(UINT64_MAX));
  cmd->add_flag("--unsealed", args->unsealed, "Leave the password-carrying tables unsealed");
  cmd->add_flag("--dictionary", args->dictionary,
                "Write one dictionary file DIR/HR.add instead, with the program's login account");
  cmd->callback([args, exit_status] {
    SampleOptions options;
    options.employees = args->employees;
    options.seed = args->seed;
    options.selected_leaves = args->leaves;
    options.sealed = !args->unsealed;
    SampleSummary summary;
    std::string error;
    const auto start = std::chrono::steady_clock::now();
    std::string where = args->folder;
    bool ok = false;
    if (args->dictionary) {
      std::error_code ec;
      std::filesystem::create_directories(args->folder, ec);
      where = (std::filesystem::path(args->folder) / "HR.add").string();
      options.sealed = false;
      ok = GenerateSampleDictionary(where, options, kProgramUser, kProgramPassword, &summary, &error);
    } else if (IsServerUri(args->folder)) {
      where = ShownConnectionPath(args->folder);
      options.sealed = false;
      ok = GenerateSampleOnServer(args->folder, options, &summary, &error);
    } else {
      ok = GenerateSampleDatabase(args->folder, options, &summary, &error);
    }
    if (!ok) {
      std::cerr << "kdx-db sample: " << error << "\n";
      *exit_status = 1;
      return;
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::cout << fmt::format("Sample database written to {} in {:.1f} s ({} tables{}):\n", where, seconds,
                             summary.rows.size(),
                             args->dictionary ? std::string(", with the program's login account")
                             : options.sealed ? std::string("; the password-carrying ones sealed with the table password")
                                              : std::string("; none sealed"));
    for (const auto& [table, rows] : summary.rows) std::cout << fmt::format("  {:<16} {:>9} rows\n", table, rows);
    std::cout << fmt::format("  {} employees are current this month; {} approved leaves were modified today.\n",
                             summary.current_employees, summary.leaves_modified_today);
    *exit_status = 0;
  });
}

void RegisterImport(CLI::App& app, int* exit_status) {
  auto args = std::make_shared<std::vector<std::string>>();
  CLI::App* cmd = app.add_subcommand(
      "import", "Append the rows of a CSV file to a table (all or nothing; the header names the columns): "
                "TABLEFILE CSVFILE, or URI TABLE CSVFILE for a table of a PostgreSQL server");
  cmd->add_option("ARGS", *args,
                  "TABLEFILE CSVFILE (e.g. mydb/EMP_CLD.ADT new.csv), or URI TABLE CSVFILE; CSVFILE - reads "
                  "standard input")
      ->required()
      ->expected(2, 3);
  cmd->callback([args, exit_status] {
    int64_t rows = 0;
    std::vector<std::string> errors;
    const bool server = args->size() == 3;
    if (server != IsServerUri((*args)[0])) {
      std::cerr << "kdx-db import: give TABLEFILE CSVFILE, or a postgresql:// URI, the table and CSVFILE\n";
      *exit_status = 2;
      return;
    }
    std::string csv = args->back();
    std::unique_ptr<StandardInputCsv> from_input;
    if (csv == "-") {
      from_input = std::make_unique<StandardInputCsv>();
      csv = from_input->Path();
      if (csv.empty()) {
        std::cerr << "kdx-db import: standard input cannot be copied to a temporary file\n";
        *exit_status = 1;
        return;
      }
    }
    const std::string where = server ? (*args)[1] + " on " + ShownConnectionPath((*args)[0]) : (*args)[0];
    const bool ok = server ? ImportCsvIntoServerTable((*args)[0], (*args)[1], csv, &rows, &errors)
                           : ImportCsvIntoTable((*args)[0], csv, &rows, &errors);
    if (!ok) {
      for (const std::string& e : errors) std::cerr << "kdx-db import: " << e << "\n";
      *exit_status = 1;
      return;
    }
    std::cout << fmt::format("Imported {} rows into {}\n", rows, where);
    *exit_status = 0;
  });
}

void RegisterQuery(CLI::App& app, int* exit_status) {
  struct Args {
    std::string path;
    std::string sql;
    QueryCredentials credentials;
    PasswordArgs password;
  };
  auto args = std::make_shared<Args>();
  args->credentials.user = kProgramUser;
  CLI::App* cmd = app.add_subcommand("query", "Run an SQL statement through the program's engine; print CSV");
  cmd->add_option("PATH", args->path, "Database folder, dictionary file or postgresql:// URI")->required();
  cmd->add_option("SQL", args->sql, "The statement, e.g. \"select * from employee\"")->required();
  cmd->add_option("--user", args->credentials.user, "Dictionary user (default: the program's login name)");
  cmd->add_option("--password-file", args->password.password_file,
                  "File whose first line is the dictionary password, or the table password of a folder's sealed "
                  "tables (else $KDX_DB_PASSWORD, else a prompt on the terminal)");
  RefusePasswordOption(cmd, "--password");
  RefusePasswordOption(cmd, "--table-password");
  cmd->callback([args, exit_status] {
    int64_t rows = 0;
    std::string error;
    const bool server = IsServerUri(args->path);
    const bool dictionary = !server && ClassifyConnectionPath(args->path) == ConnectionPathKind::kDictionary;
    bool ok = true;
    if (dictionary) {
      ok = GetPassword(args->password, "Password of " + args->credentials.user + " for " + args->path, false,
                       &args->credentials.password, &error);
    } else if (!server && HoldsSealedTables(args->path)) {
      ok = GetOptionalPassword(args->password, "Table password of the sealed tables in " + args->path,
                               &args->credentials.table_password, &error);
    }
    if (!ok || !RunQueryAsCsv(args->path, args->sql, args->credentials, std::cout, &rows, &error)) {
      std::cout.flush();
      std::cerr << "kdx-db query: " << error << "\n";
      if (ok && !dictionary && !server && args->credentials.table_password.empty() && HoldsSealedTables(args->path)) {
        std::cerr << "kdx-db query: " << args->path << ": " << kNoTablePassword << "\n";
      }
      *exit_status = 1;
      return;
    }
    *exit_status = 0;
  });
}

void RegisterCheck(CLI::App& app, int* exit_status) {
  struct Args {
    std::string path;
    PasswordArgs password;
  };
  auto args = std::make_shared<Args>();
  CLI::App* cmd = app.add_subcommand(
      "check", "Check a database against the storage format and what the exports need; list every problem");
  cmd->add_option("PATH", args->path, "Database folder, dictionary file or postgresql:// URI")->required();
  cmd->add_option("--password-file", args->password.password_file,
                  "File whose first line is the table password of the folder's sealed tables (else "
                  "$KDX_DB_PASSWORD, else a prompt on the terminal)");
  RefusePasswordOption(cmd, "--table-password");
  cmd->callback([args, exit_status] {
    std::string table_password, error;
    const bool sealed = !IsServerUri(args->path) && HoldsSealedTables(args->path);
    if (sealed && !GetOptionalPassword(args->password, "Table password of the sealed tables in " + args->path,
                                       &table_password, &error)) {
      std::cerr << "kdx-db check: " << error << "\n";
      *exit_status = 1;
      return;
    }
    const CheckReport report = CheckDatabase(args->path, table_password);
    if (sealed && table_password.empty()) std::cout << "note: " << args->path << ": " << kNoTablePassword << "\n";
    for (const std::string& note : report.notes) std::cout << "note: " << note << "\n";
    for (const CheckProblem& p : report.problems) {
      std::cout << "PROBLEM " << p.where << ": " << p.problem << "\n    fix: " << p.fix << "\n";
    }
    if (report.ok()) {
      std::cout << fmt::format("OK: {} ({} tables) has everything the exports need\n", ShownConnectionPath(args->path),
                               report.tables);
      *exit_status = 0;
    } else {
      std::cout << fmt::format("{} problem{} found in {}\n", report.problems.size(),
                               report.problems.size() == 1 ? "" : "s", ShownConnectionPath(args->path));
      *exit_status = 1;
    }
  });
}

}  // namespace

void RegisterDataCommands(CLI::App& app, int* exit_status) {
  RegisterSample(app, exit_status);
  RegisterImport(app, exit_status);
  RegisterQuery(app, exit_status);
  RegisterCheck(app, exit_status);
}
