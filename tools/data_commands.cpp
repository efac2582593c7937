// kdx-db sample, import, query and check: the command lines of the tools in
// sample_database.h, table_import.h, query_csv.h and database_check.h.
#include <fmt/format.h>

#include <CLI/CLI.hpp>
#include <chrono>
#include <filesystem>
#include <iostream>

#include "tools/commands.h"
#include "tools/database_check.h"
#include "tools/query_csv.h"
#include "tools/sample_database.h"
#include "tools/server_database.h"
#include "tools/table_import.h"

namespace {

// The login the program makes on a dictionary connection.
constexpr char kProgramUser[] = "GLOVERUN4";
constexpr char kProgramPassword[] = "BRISKOLDENT";

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
      "sample", "Write a sample HR database (a folder of free tables) that exercises every path of the exports");
  cmd->add_option("DIR", args->folder,
                  "Folder to write (created when missing), or a postgresql:// URI of an empty database; must not "
                  "hold the tables already")
      ->required();
  cmd->add_option("--employees", args->employees, "Number of employees")->capture_default_str()->check(CLI::NonNegativeNumber);
  cmd->add_option("--leaves", args->leaves,
                  "Write exactly this many leave records selected by today's leave-day export, spread over the "
                  "employees (at most 100 each); by default some of the employees' own leave is")
      ->check(CLI::NonNegativeNumber);
  cmd->add_option("--seed", args->seed, "Random seed: the same seed on the same day gives the same data")
      ->capture_default_str();
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
  cmd->add_option("ARGS", *args, "TABLEFILE CSVFILE (e.g. mydb/EMP_CLD.ADT new.csv), or URI TABLE CSVFILE")
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
    const std::string where = server ? (*args)[1] + " on " + ShownConnectionPath((*args)[0]) : (*args)[0];
    const bool ok = server ? ImportCsvIntoServerTable((*args)[0], (*args)[1], (*args)[2], &rows, &errors)
                           : ImportCsvIntoTable((*args)[0], (*args)[1], &rows, &errors);
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
  };
  auto args = std::make_shared<Args>();
  CLI::App* cmd = app.add_subcommand("query", "Run an SQL statement through the program's engine; print CSV");
  cmd->add_option("PATH", args->path, "Database folder, dictionary file or postgresql:// URI")->required();
  cmd->add_option("SQL", args->sql, "The statement, e.g. \"select * from employee\"")->required();
  cmd->add_option("--table-password", args->credentials.table_password,
                  "Password of the folder's sealed tables (default: the program's table password)");
  cmd->add_option("--user", args->credentials.user, "Dictionary user (default: the program's)");
  cmd->add_option("--password", args->credentials.password, "Dictionary password (default: the program's)");
  cmd->callback([args, exit_status] {
    int64_t rows = 0;
    std::string error;
    if (!RunQueryAsCsv(args->path, args->sql, args->credentials, std::cout, &rows, &error)) {
      std::cout.flush();
      std::cerr << "kdx-db query: " << error << "\n";
      *exit_status = 1;
      return;
    }
    *exit_status = 0;
  });
}

void RegisterCheck(CLI::App& app, int* exit_status) {
  struct Args {
    std::string path;
    std::string table_password = "VARDE5816";
  };
  auto args = std::make_shared<Args>();
  CLI::App* cmd = app.add_subcommand(
      "check", "Check a database against the storage format and what the exports need; list every problem");
  cmd->add_option("PATH", args->path, "Database folder, dictionary file or postgresql:// URI")->required();
  cmd->add_option("--table-password", args->table_password,
                  "Password of the folder's sealed tables (default: the program's table password)");
  cmd->callback([args, exit_status] {
    const CheckReport report = CheckDatabase(args->path, args->table_password);
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
