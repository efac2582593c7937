#include "exports/lookup_tables.h"

#include <algorithm>
#include <exception>

#include "data/table.h"
#include "util/number_format.h"

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

// While it lives, `table`'s records are read with only the columns of
// `read` (see TAdsDataSet::SetReadColumns).
class ReadColumnsOnly {
 public:
  ReadColumnsOnly(TAdsTable& table, const std::vector<const TField*>& read) : table_(table) {
    table_.SetReadColumns(read);
  }
  ~ReadColumnsOnly() {
    // A failure here leaves the records partial, and each read of another
    // column then reads its record whole: what is read stays right.
    static_cast<void>(TryRead([&] { table_.SetReadColumns({}); }));
  }
  ReadColumnsOnly(const ReadColumnsOnly&) = delete;
  ReadColumnsOnly& operator=(const ReadColumnsOnly&) = delete;

 private:
  TAdsTable& table_;
};

// Whether KeepCareerRow makes the text of a career column from its amount
// only when the row turns out to be the one in force (most rows walked are
// not): for a Float or Currency column ReadText writes out FormatGeneral of
// the number ReadFloat gives.
bool TextMadeLater(const TField& field) {
  return field.Kind() == TFieldKind::Float || field.Kind() == TFieldKind::Currency;
}

// Leaves the current group's rows to be read from the table.
void MarkLive(ReadAheadRows& rows) {
  rows.DropCurrentCells();
  rows.Current().live = true;
}

size_t first_window_rows = LookupTables::kFirstWindowRows;
size_t most_window_rows = LookupTables::kMaxWindowRows;

}  // namespace

void LookupTables::SetWindowRowsForTesting(size_t first, size_t most) {
  first_window_rows = first == 0 ? kFirstWindowRows : first;
  most_window_rows = most == 0 ? kMaxWindowRows : std::max(most, first_window_rows);
}

bool LookupTables::Window::Covers(std::string_view key) const {
  return holds && key >= low && (at_end || key <= last);
}

template <typename Visit>
bool LookupTables::Cover(Window& window, const std::string& key, const std::string& seek, Visit visit) {
  if (!window.usable) return false;
  if (window.Covers(key)) return true;
  // A key past the end of a full window (one cut by the column's width) has
  // rows only a seek can tell about.
  return ReadWindow(window, seek, visit) && window.Covers(key);
}

template <typename Visit>
bool LookupTables::ReadWindow(Window& window, const std::string& seek, Visit visit) {
  // A window that starts where the last one ended reads twice as many rows;
  // one sought elsewhere starts small, as a seek would.
  const bool follows = window.holds && !window.at_end && seek > window.last && seek <= window.next;
  window.limit = follows ? std::min(window.limit * 2, most_window_rows) : first_window_rows;
  window.holds = false;
  window.rows.Clear();
  ++windows_read_;

  TAdsTable& table = *window.table;
  std::string key;
  std::string last;
  size_t count = 0;
  bool usable = true;
  const bool ran = TryRead([&] {
    const ReadColumnsOnly columns(table, window.read);
    if (seek.empty()) {
      table.GoFirst();
    } else {
      static_cast<void>(table.SeekAtOrAfter({seek}));
    }
    while (!table.AtEof()) {
      if (!RowKeyText(table, *window.key, &key) || key < seek) {
        usable = false;
        return;
      }
      // A window ends between two keys, never inside one key's rows.
      if (count >= window.limit && key != last) {
        window.next = key;
        return;
      }
      if (!visit(key)) {
        usable = false;
        return;
      }
      last = key;
      ++count;
      table.GoNext();
    }
  });
  if (!ran || !usable) {
    window.usable = false;
    window.rows.Clear();
    return false;
  }
  window.at_end = table.AtEof();
  window.low = seek;
  window.last = last;
  window.holds = true;
  return true;
}

bool LookupTables::ReadsWindows(const TAdsDataSet& table) const {
  auto moves = [&](const Window& w) { return w.table == &table; };
  if (moves(career_.window) || moves(allowances_.window)) return true;
  return std::any_of(keyed_.begin(), keyed_.end(), [&](const KeyedTable& k) { return moves(k.window); });
}

void LookupTables::ReadKeyedTable(TAdsTable& table, const std::vector<std::string>& columns) {
  const std::vector<const TField*> keys = IndexKeys(table, 1);
  const std::vector<const TField*> fields = FindColumns(table, columns);
  if (keys.empty() || fields.empty() || !table.AtBof()) return;
  KeyedTable read;
  read.window.table = &table;
  read.window.key = keys[0];
  read.window.usable = true;
  read.fields = fields;
  read.columns = columns;
  read.window.read = fields;
  read.window.read.push_back(keys[0]);
  keyed_.push_back(std::move(read));
}

bool LookupTables::KeepKeyedRow(KeyedTable& read, const std::string& key) {
  ReadAheadRows& rows = read.window.rows;
  if (!rows.Place(key)) return false;
  // A seek finds the first row of a key; later ones are never read.
  if (!rows.PlacedNewGroup()) return true;
  std::string value;
  for (const TField* field : read.fields) {
    if (!TryRead([&] { value = field->ReadText(); })) {
      MarkLive(rows);
      return true;
    }
    if (!rows.AddCell(0, value)) return false;
  }
  return true;
}

void LookupTables::ReadCareer(TAdsTable& table, const std::vector<std::string>& columns, double as_of) {
  // The career walk compares emp_code, which must be the column sought.
  const TField* key = FindColumn(table, "emp_code");
  const TField* date = FindColumn(table, "pay_effective_date");
  const std::vector<const TField*> fields = FindColumns(table, columns);
  if (date == nullptr || fields.size() != columns.size() || IndexKeys(table, 1) != std::vector{key} ||
      !table.AtBof()) {
    return;
  }
  career_.window.table = &table;
  career_.window.key = key;
  career_.window.usable = true;
  career_.date = date;
  career_.fields = fields;
  career_.columns = columns;
  career_.as_of = as_of;
  career_.window.read = fields;
  career_.window.read.insert(career_.window.read.end(), {key, date});
}

bool LookupTables::KeepCareerRow(CareerRows& read, const std::string& key, bool* walk_ended) {
  ReadAheadRows& rows = read.window.rows;
  if (!rows.Place(key)) return false;
  if (rows.PlacedNewGroup()) *walk_ended = false;
  if (*walk_ended || rows.Current().live) return true;
  double effective = 0;
  if (!TryRead([&] { effective = read.date->ReadDateTime(); })) {
    MarkLive(rows);
    return true;
  }
  if (effective > read.as_of) {
    *walk_ended = true;
    return true;
  }
  // The last row in force so far replaces the one before it.
  rows.DropCurrentCells();
  if (!rows.AddCell(effective)) return false;
  std::string text;
  for (const TField* field : read.fields) {
    double amount = 0;
    const bool later = TextMadeLater(*field);
    bool empty = false;
    if (!TryRead([&] {
          if (later) {
            // The text is made from the amount only for the row in force.
            empty = field->IsEmpty();
            if (!empty) amount = field->ReadFloat();
          } else {
            text = field->ReadText();
            amount = field->ReadFloat();
          }
        })) {
      MarkLive(rows);
      return true;
    }
    bool added = false;
    if (!later) {
      added = rows.AddCell(amount, text);
    } else if (empty) {
      added = rows.AddCell(0, "");  // ReadText of an empty amount is ""
    } else {
      added = rows.AddCellWithTextToMake(amount);
    }
    if (!added) return false;
  }
  return true;
}

void LookupTables::ReadAllowances(TAdsTable& table, const std::vector<std::string>& codes) {
  const TField* employee = FindColumn(table, "EMP_NO");
  const TField* code = FindColumn(table, "allow_code");
  const std::vector<const TField*> fields =
      FindColumns(table, {"effdate", "enddate", "START_MTH", "END_MTH", "AMT"});
  if (fields.empty() || IndexKeys(table, 2) != std::vector{employee, code} || !table.AtBof()) return;
  // A seek whose employee number is empty stands on the first row of the
  // empty numbers whatever the code, and misses unless its code matches:
  // what the walk then reads depends on where the table stood before. A
  // table with such rows (they sort first) is never moved by a window, so
  // that it stands where reading it row by row leaves it.
  std::string first;
  bool empty_number = false;
  if (!TryRead([&] {
        table.GoFirst();
        empty_number = !table.AtEof() && RowKeyText(table, *employee, &first) && first.empty();
      }) ||
      empty_number) {
    return;
  }
  allowances_.window.table = &table;
  allowances_.window.key = employee;
  allowances_.window.usable = true;
  allowances_.code = code;
  allowances_.fields = fields;
  allowances_.codes = codes;
  allowances_.window.read = fields;
  allowances_.window.read.insert(allowances_.window.read.end(), {employee, code});
}

bool LookupTables::KeepAllowanceRow(AllowanceRows& read, const std::string& employee) {
  ReadAheadRows& rows = read.window.rows;
  std::string code;
  if (employee.empty() || !RowKeyText(*read.window.table, *read.code, &code)) return false;
  if (!rows.Place(employee + kKeySeparator + code)) return false;
  if (rows.Current().live || std::find(read.codes.begin(), read.codes.end(), code) == read.codes.end()) return true;
  const std::vector<const TField*>& f = read.fields;
  AllowanceRow row;
  if (!TryRead([&] {
        row.effdate = f[0]->ReadDateTime();
        row.enddate = f[1]->ReadDateTime();
        row.start_month = f[2]->ReadInt();
        row.end_month = f[3]->ReadInt();
        row.amount = f[4]->ReadFloat();
      })) {
    MarkLive(rows);
    return true;
  }
  return rows.AddCell(row.effdate) && rows.AddCell(row.enddate) && rows.AddCell(row.start_month) &&
         rows.AddCell(row.end_month) && rows.AddCell(row.amount);
}

LookupTables::Answer LookupTables::KeyedText(const TAdsDataSet& table, const std::string& emp_no,
                                             const std::string& column, std::string* text) {
  const auto read =
      std::find_if(keyed_.begin(), keyed_.end(), [&](const KeyedTable& k) { return k.window.table == &table; });
  if (read == keyed_.end()) return Answer::kNotReadAhead;
  const auto at = std::find(read->columns.begin(), read->columns.end(), column);
  std::string key;
  if (at == read->columns.end() || !SeekText(emp_no, read->window.key->Width(), &key)) return Answer::kNotReadAhead;
  KeyedTable& keyed = *read;
  if (!Cover(keyed.window, key, key, [&](const std::string& k) { return KeepKeyedRow(keyed, k); })) {
    return Answer::kNotReadAhead;
  }
  const ReadAheadRows& rows = keyed.window.rows;
  const ReadAheadRows::Group* group = rows.Find(key);
  if (group == nullptr) return Answer::kNoRow;
  if (group->live) return Answer::kNotReadAhead;
  *text = rows.Text(rows.CellAt(group->first_cell + static_cast<size_t>(at - read->columns.begin())));
  return Answer::kFound;
}

LookupTables::Answer LookupTables::Career(const std::string& emp_no, double* effective, size_t* values) {
  std::string seek;
  if (!career_.window.usable || !SeekText(emp_no, career_.window.key->Width(), &seek)) return Answer::kNotReadAhead;
  bool walk_ended = false;  // the employee's walk met a row later than as_of
  if (!Cover(career_.window, emp_no, seek,
             [&](const std::string& k) { return KeepCareerRow(career_, k, &walk_ended); })) {
    return Answer::kNotReadAhead;
  }
  // The walk compares the whole employee number with each row's text: a
  // number no row's text equals has no career row.
  const ReadAheadRows& rows = career_.window.rows;
  const ReadAheadRows::Group* group = rows.Find(emp_no);
  if (group == nullptr) return Answer::kNoRow;
  if (group->live) return Answer::kNotReadAhead;
  if (group->cells == 0) return Answer::kNoRow;
  for (size_t i = group->first_cell + 1; i < group->first_cell + group->cells; ++i) {
    const ReadAheadRows::Cell& cell = rows.CellAt(i);
    if (rows.TextToMake(cell) && !career_.window.rows.MakeText(i, FormatGeneral(cell.number))) {
      return Answer::kNotReadAhead;
    }
  }
  *effective = rows.CellAt(group->first_cell).number;
  *values = group->first_cell + 1;
  return Answer::kFound;
}

std::string_view LookupTables::CareerText(size_t values, size_t index) const {
  const ReadAheadRows& rows = career_.window.rows;
  return rows.Text(rows.CellAt(values + index));
}

double LookupTables::CareerAmount(size_t values, size_t index) const {
  return career_.window.rows.CellAt(values + index).number;
}

LookupTables::Answer LookupTables::Allowances(const std::string& emp_no, const std::string& code, size_t* first,
                                              size_t* count) {
  std::string seek;
  if (!allowances_.window.usable ||
      std::find(allowances_.codes.begin(), allowances_.codes.end(), code) == allowances_.codes.end() ||
      !SeekText(emp_no, allowances_.window.key->Width(), &seek)) {
    return Answer::kNotReadAhead;
  }
  if (!Cover(allowances_.window, emp_no, seek,
             [&](const std::string& employee) { return KeepAllowanceRow(allowances_, employee); })) {
    return Answer::kNotReadAhead;
  }
  // As for the career: the walk compares whole texts, so a key no row's
  // texts equal has no rows (a separator inside either text included).
  const ReadAheadRows& rows = allowances_.window.rows;
  const ReadAheadRows::Group* group = rows.Find(emp_no + kKeySeparator + code);
  if (group == nullptr) return Answer::kNoRow;
  if (group->live) return Answer::kNotReadAhead;
  *first = group->first_cell;
  *count = group->cells / kAllowanceCells;
  return *count == 0 ? Answer::kNoRow : Answer::kFound;
}

LookupTables::AllowanceRow LookupTables::AllowanceAt(size_t first, size_t index) const {
  const ReadAheadRows& rows = allowances_.window.rows;
  const size_t at = first + index * kAllowanceCells;
  AllowanceRow row;
  row.effdate = rows.CellAt(at).number;
  row.enddate = rows.CellAt(at + 1).number;
  row.start_month = static_cast<int32_t>(rows.CellAt(at + 2).number);
  row.end_month = static_cast<int32_t>(rows.CellAt(at + 3).number);
  row.amount = rows.CellAt(at + 4).number;
  return row;
}

size_t LookupTables::MemoryBytes() const {
  size_t bytes = career_.window.rows.MemoryBytes() + allowances_.window.rows.MemoryBytes();
  for (const KeyedTable& read : keyed_) bytes += read.window.rows.MemoryBytes();
  return bytes;
}
