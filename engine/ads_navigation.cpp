// Entry points for moving through tables, reading records, seeking and
// filtering.
#include <cstring>

#include "engine/entry_points.h"

using namespace engine;

// ---- navigation and reading --------------------------------------------------------

UNSIGNED32 AdsGotoTop(ADSHANDLE order) {
  return WithOrder(order, [&](EngineTable* t, int o) -> Status {
    return t->GotoTop(o);
  });
}

UNSIGNED32 AdsGotoBottom(ADSHANDLE order) {
  return WithOrder(order, [&](EngineTable* t, int o) -> Status {
    return t->GotoBottom(o);
  });
}

UNSIGNED32 AdsSkip(ADSHANDLE order, SIGNED32 count) {
  return WithOrder(order, [&](EngineTable* t, int o) -> Status {
    return t->Skip(o, count);
  });
}

UNSIGNED32 AdsAtEOF(ADSHANDLE table, UNSIGNED16* at_eof) {
  return WithTable(table, at_eof, "AdsAtEOF", [&](EngineTable* t) -> Status {
    *at_eof = t->at_eof() ? 1 : 0;
    return Status();
  });
}

UNSIGNED32 AdsAtBOF(ADSHANDLE table, UNSIGNED16* at_bof) {
  return WithTable(table, at_bof, "AdsAtBOF", [&](EngineTable* t) -> Status {
    *at_bof = t->at_bof() ? 1 : 0;
    return Status();
  });
}

UNSIGNED32 AdsIsRecordVisible(ADSHANDLE order, UNSIGNED16* visible) {
  return WithOrder(order, visible, "AdsIsRecordVisible", [&](EngineTable* t, int) -> Status {
    *visible = t->on_row() ? 1 : 0;  // only records passing the filter are ever current
    return Status();
  });
}

UNSIGNED32 AdsGetRecord(ADSHANDLE table, uint8_t* buffer, UNSIGNED32* length) {
  return WithTable(table, length, "AdsGetRecord", [&](EngineTable* t) -> Status {
    if (*length < t->record_length() || buffer == nullptr) {
      UNSIGNED32 needed = t->record_length();
      *length = needed;
      return Status(AE_INSUFFICIENT_BUFFER, "Table " + t->display_name() + ": the record needs " +
                                                  std::to_string(needed) + " bytes");
    }
    *length = t->record_length();
    return LastErrorStatus(t->GetRecord(buffer));
  });
}

UNSIGNED32 AdsSetReadColumns(ADSHANDLE table, const UNSIGNED16* columns, UNSIGNED16 count) {
  return WithTable(table, [&](EngineTable* t) -> Status {
    if (count > 0 && columns == nullptr) return Status(AE_KDX_INVALID_ARGUMENT, "AdsSetReadColumns: no columns given");
    std::vector<int> read;
    for (UNSIGNED16 i = 0; i < count; ++i) read.push_back(static_cast<int>(columns[i]) - 1);
    return t->SetReadColumns(read);
  });
}

UNSIGNED32 AdsGetField(ADSHANDLE table, const std::string& field, std::string* value) {
  return WithTable(table, value, "AdsGetField", [&](EngineTable* t) -> Status {
    int column = -1;
    if (Status found = t->ColumnByName(field, &column); !found.ok()) return found;
    return LastErrorStatus(t->GetFieldText(column, value));
  });
}

UNSIGNED32 AdsIsEmpty(ADSHANDLE table, const std::string& field, UNSIGNED16* empty) {
  return WithTable(table, empty, "AdsIsEmpty", [&](EngineTable* t) -> Status {
    int column = -1;
    if (Status found = t->ColumnByName(field, &column); !found.ok()) return found;
    bool is_empty = true;
    if (Status read = LastErrorStatus(t->IsFieldEmpty(column, &is_empty)); !read.ok()) return read;
    *empty = is_empty ? 1 : 0;
    return Status();
  });
}

UNSIGNED32 AdsGetRecordNum(ADSHANDLE table, UNSIGNED32* record) {
  return WithTable(table, record, "AdsGetRecordNum", [&](EngineTable* t) -> Status {
    return t->CurrentRecordNumber(record);
  });
}

UNSIGNED32 AdsGetBookmark60(ADSHANDLE order, UNSIGNED32* bookmark) { return AdsGetRecordNum(order, bookmark); }
UNSIGNED32 AdsGetBookmark(ADSHANDLE order, UNSIGNED32* bookmark) { return AdsGetRecordNum(order, bookmark); }

UNSIGNED32 AdsGotoBookmark(ADSHANDLE order, UNSIGNED32 bookmark) {
  return WithOrder(order, [&](EngineTable* t, int o) -> Status {
    return t->GotoRecord(o, bookmark);
  });
}

UNSIGNED32 AdsGotoRecord(ADSHANDLE table, UNSIGNED32 record) { return AdsGotoBookmark(table, record); }

// ---- seeks ------------------------------------------------------------------------------

UNSIGNED32 AdsGetNullRecord(ADSHANDLE table, uint8_t* buffer, UNSIGNED32 length) {
  return WithTable(table, [&](EngineTable* t) -> Status {
    if (buffer == nullptr || length < t->record_length()) {
      return Status(AE_INSUFFICIENT_BUFFER, "Table " + t->display_name() + ": the record needs " +
                                                  std::to_string(t->record_length()) + " bytes");
    }
    t->EmptyRecord(buffer);
    return Status();
  });
}

UNSIGNED32 AdsClearRecordBuffer(ADSHANDLE table, uint8_t* buffer, UNSIGNED32 length) {
  return AdsGetNullRecord(table, buffer, length);
}

UNSIGNED32 AdsInitRawKey(ADSHANDLE index) {
  return WithOrder(index, [&](EngineTable* t, int o) -> Status {
    return LastErrorStatus(t->InitKey(o));
  });
}

UNSIGNED32 AdsSetField(ADSHANDLE index, const std::string& field, const uint8_t* bytes, UNSIGNED32 length) {
  return WithOrder(index, [&](EngineTable* t, int o) -> Status {
    return LastErrorStatus(t->SetKeyField(o, field, bytes, length));
  });
}

UNSIGNED32 AdsSetFieldRaw(ADSHANDLE index, const std::string& field, const uint8_t* bytes, UNSIGNED32 length) {
  return AdsSetField(index, field, bytes, length);
}

UNSIGNED32 AdsBuildRawKey(ADSHANDLE index, uint8_t* key, UNSIGNED16* length) {
  return WithOrder(index, length, "AdsBuildRawKey", [&](EngineTable* t, int o) -> Status {
    if (key == nullptr) *length = 0;
    return LastErrorStatus(t->BuildKey(o, key, length));
  });
}

UNSIGNED32 AdsSeek(ADSHANDLE index, const uint8_t* key, UNSIGNED16 length, UNSIGNED16 data_type,
                   UNSIGNED16 seek_type, UNSIGNED16* found) {
  return WithOrder(index, found, "AdsSeek", [&](EngineTable* t, int o) -> Status {
    constexpr UNSIGNED16 kRawKey = 1;
    constexpr UNSIGNED16 kSoftSeek = 1;
    constexpr UNSIGNED16 kHardSeek = 2;
    if (data_type != kRawKey) {
      return Status(AE_KDX_INVALID_ARGUMENT, "Table " + t->display_name() + ": seek key type " +
                                                   std::to_string(data_type) + " is not supported (1 = raw key)");
    }
    if (seek_type != kSoftSeek && seek_type != kHardSeek) {
      return Status(AE_KDX_INVALID_ARGUMENT, "Table " + t->display_name() + ": seek type " +
                                                   std::to_string(seek_type) + " is not 1 (nearest) or 2 (exact)");
    }
    bool hit = false;
    if (Status sought = LastErrorStatus(t->Seek(o, key, length, seek_type == kHardSeek, &hit)); !sought.ok()) {
      return sought;
    }
    *found = hit ? 1 : 0;
    return Status();
  });
}

UNSIGNED32 AdsQueueSeek(ADSHANDLE index, const uint8_t* key, UNSIGNED16 length, UNSIGNED16* queued) {
  return WithOrder(index, queued, "AdsQueueSeek", [&](EngineTable* t, int o) -> Status {
    bool kept = false;
    if (Status rc = LastErrorStatus(t->QueueSeek(o, key, length, &kept)); !rc.ok()) return rc;
    *queued = kept ? 1 : 0;
    return Status();
  });
}

// ---- filters ------------------------------------------------------------------------------

UNSIGNED32 AdsGetAOF(ADSHANDLE table, char* buffer, UNSIGNED16* length) {
  return WithTable(table, length, "AdsGetAOF", [&](EngineTable* t) -> Status {
    if (!t->has_filter()) return Status(AE_NO_FILTER, "Table " + t->display_name() + " has no filter");
    const std::string& text = t->filter_text();
    // The text and its terminating zero must fit.
    if (buffer == nullptr || static_cast<size_t>(*length) < text.size() + 1) {
      *length = static_cast<UNSIGNED16>(text.size() + 1 > 0xFFFF ? 0xFFFF : text.size() + 1);
      return Status(AE_INSUFFICIENT_BUFFER, "Table " + t->display_name() + ": the filter needs " +
                                                  std::to_string(text.size() + 1) + " characters");
    }
    std::memcpy(buffer, text.data(), text.size());
    buffer[text.size()] = '\0';
    *length = static_cast<UNSIGNED16>(text.size());
    return Status();
  });
}

UNSIGNED32 AdsSetAOF(ADSHANDLE table, const std::string& expression, UNSIGNED16 options) {
  return WithTable(table, [&](EngineTable* t) -> Status {
    (void)options;  // every filter is fully resolved by SQLite
    if (expression.size() > 0xFFFE) {
      return Status(AE_KDX_FILTER_SYNTAX, "Table " + t->display_name() + ": the filter is longer than 65534 characters");
    }
    return t->SetFilter(expression);
  });
}

UNSIGNED32 AdsClearAOF(ADSHANDLE table) {
  return WithTable(table, [&](EngineTable* t) -> Status {
    t->ClearFilter();
    return Status();
  });
}

UNSIGNED32 AdsGetExact22(ADSHANDLE table, UNSIGNED16* exact) {
  return WithTable(table, exact, "AdsGetExact22", [&](EngineTable* t) -> Status {
    *exact = t->exact22() ? 1 : 0;
    return Status();
  });
}

UNSIGNED32 AdsSetExact22(ADSHANDLE table, UNSIGNED16 exact) {
  return WithTable(table, [&](EngineTable* t) -> Status {
    return t->SetExact(exact != 0);
  });
}
