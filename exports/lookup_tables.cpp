#include "exports/lookup_tables.h"

#include <algorithm>
#include <exception>

#include "data/table.h"

namespace {

// Joins the employee and allowance code of an EMP_ALW key. It sorts before
// every character a key text may hold, so joined keys sort as the pairs do.
constexpr char kKeySeparator = '\x01';
// Key texts holding a character below this one are not read ahead.
constexpr unsigned char kBlank = ' ';
// Cells of one EMP_ALW row: effdate, enddate, START_MTH, END_MTH, AMT.
constexpr size_t kAllowanceCells = 5;

// The column `name` of `table`, found as the run's own reads find it; nullptr
// when the table lacks it.
const TField* FindColumn(TAdsDataSet& table, const std::string& name) {
  try {
    return &table.ColumnByName(name);
  } catch (const std::exception&) {
    return nullptr;
  }
}

// The columns of `names`, or an empty list when the table lacks one.
std::vector<const TField*> FindColumns(TAdsDataSet& table, const std::vector<std::string>& names) {
  std::vector<const TField*> fields;
  for (const std::string& name : names) {
    const TField* field = FindColumn(table, name);
    if (field == nullptr) return {};
    fields.push_back(field);
  }
  return fields;
}

bool IsCharacterColumn(const TField* field) {
  return field != nullptr && field->Kind() == TFieldKind::Text && field->EngineType() == ADS_STRING;
}

// The columns of the first `count` segments of the table's active index, as
// its IndexFieldNames name them: the columns a seek on the table compares.
// Empty when there are fewer segments, or one is not a character column.
std::vector<const TField*> IndexKeys(TAdsTable& table, size_t count) {
  const std::string& names = table.IndexFieldNames();
  std::vector<const TField*> keys;
  size_t pos = 0;
  while (keys.size() < count && pos <= names.size()) {
    size_t end = names.find(';', pos);
    if (end == std::string::npos) end = names.size();
    std::string segment = names.substr(pos, end - pos);
    segment.erase(0, segment.find_first_not_of(' '));
    segment.erase(segment.find_last_not_of(' ') + 1);
    const TField* key = FindColumn(table, segment);
    if (!IsCharacterColumn(key)) return {};
    keys.push_back(key);
    pos = end + 1;
  }
  if (keys.size() < count) return {};
  return keys;
}

// The text of key column `key` of the table's current row. False when its
// bytes hold a character below a blank (a zero byte inside the text
// included), or blanks only: a seek may then find another row than the text
// names.
[[nodiscard]] bool RowKeyText(const TAdsDataSet& table, const TField& key, std::string* text) {
  const std::vector<uint8_t>& record = table.RecordBuffer();
  if (static_cast<size_t>(key.Offset()) + key.Width() > record.size()) return false;
  const uint8_t* bytes = record.data() + key.Offset();
  const uint8_t* end = bytes + key.Width();
  if (std::all_of(bytes, end, [](uint8_t b) { return b == 0; })) {
    text->clear();
    return true;
  }
  if (std::any_of(bytes, end, [](uint8_t b) { return b < kBlank; })) return false;
  if (std::all_of(bytes, end, [](uint8_t b) { return b == kBlank; })) return false;
  *text = key.ReadText();
  return true;
}

// The text a seek looks for when given `value` for a character column of
// `width` bytes: the value cut to the width, trailing blanks removed. False
// when that seek may find a row whose text is another: the cut value holds a
// character below a blank, or is blanks only.
[[nodiscard]] bool SeekText(const std::string& value, size_t width, std::string* text) {
  const std::string_view cut = std::string_view(value).substr(0, width);
  for (char ch : cut) {
    if (static_cast<unsigned char>(ch) < kBlank) return false;
  }
  const size_t last = cut.find_last_not_of(' ');
  if (last == std::string_view::npos && !cut.empty()) return false;
  text->assign(cut.substr(0, last == std::string_view::npos ? 0 : last + 1));
  return true;
}

// Runs `read`; false when it raised.
template <typename Read>
[[nodiscard]] bool TryRead(Read read) {
  try {
    read();
    return true;
  } catch (const std::exception&) {
    return false;
  }
}

// Walks `table` from its first row in the order of its active index, calling
// `visit` on every row while it returns true, then puts the table back on its
// first row. Only a table that stands on its first row (as the run's opening
// leaves it) is walked, so the lookups that still read the table find it
// where they would have. True when the walk reached the end; false when the
// table stood elsewhere, `visit` stopped the walk or a move raised.
template <typename Visit>
[[nodiscard]] bool WalkTable(TAdsTable& table, Visit visit) {
  if (!table.AtBof()) return false;
  bool reached_end = false;
  const bool ran = TryRead([&] {
    table.GoFirst();
    while (!table.AtEof() && visit()) table.GoNext();
    reached_end = table.AtEof();
  });
  const bool back = TryRead([&] { table.GoFirst(); });
  return ran && reached_end && back;
}

// Leaves the current group's rows to be read from the table.
void MarkLive(ReadAheadRows& rows) {
  rows.DropCurrentCells();
  rows.Current().live = true;
}

}  // namespace

void LookupTables::ReadKeyedTable(TAdsTable& table, const std::vector<std::string>& columns) {
  const std::vector<const TField*> keys = IndexKeys(table, 1);
  const std::vector<const TField*> fields = FindColumns(table, columns);
  if (keys.empty() || fields.empty()) return;
  const TField* key = keys[0];

  KeyedTable read;
  read.table = &table;
  read.columns = columns;
  read.key_width = key->Width();
  std::string key_text;
  std::string value;
  const bool complete = WalkTable(table, [&] {
    if (!RowKeyText(table, *key, &key_text) || !read.rows.Place(key_text)) return false;
    // A seek finds the first row of a key; later ones are never read.
    if (!read.rows.PlacedNewGroup()) return true;
    for (const TField* field : fields) {
      if (!TryRead([&] { value = field->ReadText(); })) {
        MarkLive(read.rows);
        return true;
      }
      if (!read.rows.AddCell(0, value)) return false;
    }
    return true;
  });
  if (!complete) return;
  read.rows.Trim();
  keyed_.push_back(std::move(read));
}

void LookupTables::ReadCareer(TAdsTable& table, const std::vector<std::string>& columns, double as_of) {
  // The career walk compares emp_code, which must be the column sought.
  const TField* key = FindColumn(table, "emp_code");
  const TField* date = FindColumn(table, "pay_effective_date");
  const std::vector<const TField*> fields = FindColumns(table, columns);
  if (date == nullptr || fields.size() != columns.size() || IndexKeys(table, 1) != std::vector{key}) return;

  CareerRows read;
  read.columns = columns;
  std::string key_text;
  std::string text;
  bool walk_ended = false;  // the employee's walk met a row later than as_of
  const bool complete = WalkTable(table, [&] {
    if (!RowKeyText(table, *key, &key_text) || !read.rows.Place(key_text)) return false;
    if (read.rows.PlacedNewGroup()) walk_ended = false;
    if (walk_ended || read.rows.Current().live) return true;
    double effective = 0;
    if (!TryRead([&] { effective = date->ReadDateTime(); })) {
      MarkLive(read.rows);
      return true;
    }
    if (effective > as_of) {
      walk_ended = true;
      return true;
    }
    // The last row in force so far replaces the one before it.
    read.rows.DropCurrentCells();
    if (!read.rows.AddCell(effective)) return false;
    for (const TField* field : fields) {
      double amount = 0;
      if (!TryRead([&] {
            text = field->ReadText();
            amount = field->ReadFloat();
          })) {
        MarkLive(read.rows);
        return true;
      }
      if (!read.rows.AddCell(amount, text)) return false;
    }
    return true;
  });
  if (!complete) return;
  read.read = true;
  read.rows.Trim();
  career_ = std::move(read);
}

void LookupTables::ReadAllowances(TAdsTable& table, const std::vector<std::string>& codes) {
  const TField* employee = FindColumn(table, "EMP_NO");
  const TField* code = FindColumn(table, "allow_code");
  const std::vector<const TField*> fields =
      FindColumns(table, {"effdate", "enddate", "START_MTH", "END_MTH", "AMT"});
  if (fields.empty() || IndexKeys(table, 2) != std::vector{employee, code}) return;

  AllowanceRows read;
  read.codes = codes;
  std::string employee_text;
  std::string code_text;
  const bool complete = WalkTable(table, [&] {
    if (!RowKeyText(table, *employee, &employee_text) || !RowKeyText(table, *code, &code_text)) return false;
    // A seek whose employee number is empty stands on the first row of the
    // empty numbers whatever the code, and misses unless its code matches:
    // what the walk then reads depends on where the table stood before.
    // Such rows are looked up row by row, as before.
    if (employee_text.empty()) return false;
    if (!read.rows.Place(employee_text + kKeySeparator + code_text)) return false;
    if (read.rows.Current().live || std::find(codes.begin(), codes.end(), code_text) == codes.end()) return true;
    AllowanceRow row;
    if (!TryRead([&] {
          row.effdate = fields[0]->ReadDateTime();
          row.enddate = fields[1]->ReadDateTime();
          row.start_month = fields[2]->ReadInt();
          row.end_month = fields[3]->ReadInt();
          row.amount = fields[4]->ReadFloat();
        })) {
      MarkLive(read.rows);
      return true;
    }
    return read.rows.AddCell(row.effdate) && read.rows.AddCell(row.enddate) && read.rows.AddCell(row.start_month) &&
           read.rows.AddCell(row.end_month) && read.rows.AddCell(row.amount);
  });
  if (!complete) return;
  read.read = true;
  read.rows.Trim();
  allowances_ = std::move(read);
}

LookupTables::Answer LookupTables::KeyedText(const TAdsDataSet& table, const std::string& emp_no,
                                             const std::string& column, std::string* text) const {
  const auto read = std::find_if(keyed_.begin(), keyed_.end(), [&](const KeyedTable& k) { return k.table == &table; });
  if (read == keyed_.end()) return Answer::kNotReadAhead;
  const auto at = std::find(read->columns.begin(), read->columns.end(), column);
  std::string key;
  if (at == read->columns.end() || !SeekText(emp_no, read->key_width, &key)) return Answer::kNotReadAhead;
  const ReadAheadRows::Group* group = read->rows.Find(key);
  if (group == nullptr) return Answer::kNoRow;
  if (group->live) return Answer::kNotReadAhead;
  *text = read->rows.Text(read->rows.CellAt(group->first_cell + static_cast<size_t>(at - read->columns.begin())));
  return Answer::kFound;
}

LookupTables::Answer LookupTables::Career(const std::string& emp_no, double* effective, size_t* values) const {
  if (!career_.read) return Answer::kNotReadAhead;
  // The walk compares the whole employee number with each row's text: a
  // number no row's text equals has no career row.
  const ReadAheadRows::Group* group = career_.rows.Find(emp_no);
  if (group == nullptr) return Answer::kNoRow;
  if (group->live) return Answer::kNotReadAhead;
  if (group->cells == 0) return Answer::kNoRow;
  *effective = career_.rows.CellAt(group->first_cell).number;
  *values = group->first_cell + 1;
  return Answer::kFound;
}

std::string_view LookupTables::CareerText(size_t values, size_t index) const {
  return career_.rows.Text(career_.rows.CellAt(values + index));
}

double LookupTables::CareerAmount(size_t values, size_t index) const {
  return career_.rows.CellAt(values + index).number;
}

LookupTables::Answer LookupTables::Allowances(const std::string& emp_no, const std::string& code, size_t* first,
                                              size_t* count) const {
  if (!allowances_.read || std::find(allowances_.codes.begin(), allowances_.codes.end(), code) ==
                               allowances_.codes.end()) {
    return Answer::kNotReadAhead;
  }
  // As for the career: the walk compares whole texts, so a key no row's
  // texts equal has no rows (a separator inside either text included).
  const ReadAheadRows::Group* group = allowances_.rows.Find(emp_no + kKeySeparator + code);
  if (group == nullptr) return Answer::kNoRow;
  if (group->live) return Answer::kNotReadAhead;
  *first = group->first_cell;
  *count = group->cells / kAllowanceCells;
  return *count == 0 ? Answer::kNoRow : Answer::kFound;
}

LookupTables::AllowanceRow LookupTables::AllowanceAt(size_t first, size_t index) const {
  const size_t at = first + index * kAllowanceCells;
  AllowanceRow row;
  row.effdate = allowances_.rows.CellAt(at).number;
  row.enddate = allowances_.rows.CellAt(at + 1).number;
  row.start_month = static_cast<int32_t>(allowances_.rows.CellAt(at + 2).number);
  row.end_month = static_cast<int32_t>(allowances_.rows.CellAt(at + 3).number);
  row.amount = allowances_.rows.CellAt(at + 4).number;
  return row;
}

size_t LookupTables::MemoryBytes() const {
  size_t bytes = career_.rows.MemoryBytes() + allowances_.rows.MemoryBytes();
  for (const KeyedTable& read : keyed_) bytes += read.rows.MemoryBytes();
  return bytes;
}
