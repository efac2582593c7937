// Entry points for moving through tables, reading records, seeking and
// filtering.
#include <cstring>

#include "engine/entry_points.h"

using namespace engine;

// ---- navigation and reading --------------------------------------------------------

UNSIGNED32 AdsGotoTop(ADSHANDLE order) {
  return WithOrder(order, [&](EngineTable* t, int o) -> UNSIGNED32 {
    return t->GotoTop(o);
  });
}

UNSIGNED32 AdsGotoBottom(ADSHANDLE order) {
  return WithOrder(order, [&](EngineTable* t, int o) -> UNSIGNED32 {
    return t->GotoBottom(o);
  });
}

UNSIGNED32 AdsSkip(ADSHANDLE order, SIGNED32 count) {
  return WithOrder(order, [&](EngineTable* t, int o) -> UNSIGNED32 {
    return t->Skip(o, count);
  });
}

UNSIGNED32 AdsAtEOF(ADSHANDLE table, UNSIGNED16* at_eof) {
  return WithTable(table, at_eof, "AdsAtEOF", [&](EngineTable* t) -> UNSIGNED32 {
    *at_eof = t->at_eof() ? 1 : 0;
    return 0;
  });
}

UNSIGNED32 AdsAtBOF(ADSHANDLE table, UNSIGNED16* at_bof) {
  return WithTable(table, at_bof, "AdsAtBOF", [&](EngineTable* t) -> UNSIGNED32 {
    *at_bof = t->at_bof() ? 1 : 0;
    return 0;
  });
}

UNSIGNED32 AdsIsRecordVisible(ADSHANDLE order, UNSIGNED16* visible) {
  return WithOrder(order, visible, "AdsIsRecordVisible", [&](EngineTable* t, int) -> UNSIGNED32 {
    *visible = t->on_row() ? 1 : 0;  // only records passing the filter are ever current
    return 0;
  });
}

UNSIGNED32 AdsGetRecord(ADSHANDLE table, uint8_t* buffer, UNSIGNED32* length) {
  return WithTable(table, length, "AdsGetRecord", [&](EngineTable* t) -> UNSIGNED32 {
    if (*length < t->record_length() || buffer == nullptr) {
      UNSIGNED32 needed = t->record_length();
      *length = needed;
      return SetError(AE_INSUFFICIENT_BUFFER, "Table " + t->display_name() + ": the record needs " +
                                                  std::to_string(needed) + " bytes");
    }
    *length = t->record_length();
    return t->GetRecord(buffer);
  });
}

UNSIGNED32 AdsGetField(ADSHANDLE table, const std::string& field, std::string* value) {
  return WithTable(table, value, "AdsGetField", [&](EngineTable* t) -> UNSIGNED32 {
    int column;
    if (UNSIGNED32 rc = t->ColumnByName(field, &column)) return rc;
    return t->GetFieldText(column, value);
  });
}

UNSIGNED32 AdsIsEmpty(ADSHANDLE table, const std::string& field, UNSIGNED16* empty) {
  return WithTable(table, empty, "AdsIsEmpty", [&](EngineTable* t) -> UNSIGNED32 {
    int column;
    if (UNSIGNED32 rc = t->ColumnByName(field, &column)) return rc;
    bool is_empty = true;
    if (UNSIGNED32 rc = t->IsFieldEmpty(column, &is_empty)) return rc;
    *empty = is_empty ? 1 : 0;
    return 0;
  });
}

UNSIGNED32 AdsGetRecordNum(ADSHANDLE table, UNSIGNED32* record) {
  return WithTable(table, record, "AdsGetRecordNum", [&](EngineTable* t) -> UNSIGNED32 {
    return t->CurrentRecordNumber(record);
  });
}

UNSIGNED32 AdsGetBookmark60(ADSHANDLE order, UNSIGNED32* bookmark) { return AdsGetRecordNum(order, bookmark); }
UNSIGNED32 AdsGetBookmark(ADSHANDLE order, UNSIGNED32* bookmark) { return AdsGetRecordNum(order, bookmark); }

UNSIGNED32 AdsGotoBookmark(ADSHANDLE order, UNSIGNED32 bookmark) {
  return WithOrder(order, [&](EngineTable* t, int o) -> UNSIGNED32 {
    return t->GotoRecord(o, bookmark);
  });
}

UNSIGNED32 AdsGotoRecord(ADSHANDLE table, UNSIGNED32 record) { return AdsGotoBookmark(table, record); }

// ---- seeks ------------------------------------------------------------------------------

UNSIGNED32 AdsGetNullRecord(ADSHANDLE table, uint8_t* buffer, UNSIGNED32 length) {
  return WithTable(table, [&](EngineTable* t) -> UNSIGNED32 {
    if (buffer == nullptr || length < t->record_length()) {
      return SetError(AE_INSUFFICIENT_BUFFER, "Table " + t->display_name() + ": the record needs " +
                                                  std::to_string(t->record_length()) + " bytes");
    }
    t->EmptyRecord(buffer);
    return 0;
  });
}

UNSIGNED32 AdsClearRecordBuffer(ADSHANDLE table, uint8_t* buffer, UNSIGNED32 length) {
  return AdsGetNullRecord(table, buffer, length);
}

UNSIGNED32 AdsInitRawKey(ADSHANDLE index) {
  return WithOrder(index, [&](EngineTable* t, int o) -> UNSIGNED32 {
    return t->InitKey(o);
  });
}

UNSIGNED32 AdsSetField(ADSHANDLE index, const std::string& field, const uint8_t* bytes, UNSIGNED32 length) {
  return WithOrder(index, [&](EngineTable* t, int o) -> UNSIGNED32 {
    return t->SetKeyField(o, field, bytes, length);
  });
}

UNSIGNED32 AdsSetFieldRaw(ADSHANDLE index, const std::string& field, const uint8_t* bytes, UNSIGNED32 length) {
  return AdsSetField(index, field, bytes, length);
}

UNSIGNED32 AdsBuildRawKey(ADSHANDLE index, uint8_t* key, UNSIGNED16* length) {
  return WithOrder(index, length, "AdsBuildRawKey", [&](EngineTable* t, int o) -> UNSIGNED32 {
    if (key == nullptr) *length = 0;
    return t->BuildKey(o, key, length);
  });
}

UNSIGNED32 AdsSeek(ADSHANDLE index, const uint8_t* key, UNSIGNED16 length, UNSIGNED16 data_type,
                   UNSIGNED16 seek_type, UNSIGNED16* found) {
  return WithOrder(index, found, "AdsSeek", [&](EngineTable* t, int o) -> UNSIGNED32 {
    constexpr UNSIGNED16 kRawKey = 1;
    constexpr UNSIGNED16 kSoftSeek = 1;
    constexpr UNSIGNED16 kHardSeek = 2;
    if (data_type != kRawKey) {
      return SetError(AE_KDX_INVALID_ARGUMENT, "Table " + t->display_name() + ": seek key type " +
                                                   std::to_string(data_type) + " is not supported (1 = raw key)");
    }
    if (seek_type != kSoftSeek && seek_type != kHardSeek) {
      return SetError(AE_KDX_INVALID_ARGUMENT, "Table " + t->display_name() + ": seek type " +
                                                   std::to_string(seek_type) + " is not 1 (nearest) or 2 (exact)");
    }
    bool hit = false;
    if (UNSIGNED32 rc = t->Seek(o, key, length, seek_type == kHardSeek, &hit)) return rc;
    *found = hit ? 1 : 0;
    return 0;
  });
}

// ---- filters ------------------------------------------------------------------------------

UNSIGNED32 AdsGetAOF(ADSHANDLE table, char* buffer, UNSIGNED16* length) {
  return WithTable(table, length, "AdsGetAOF", [&](EngineTable* t) -> UNSIGNED32 {
    if (!t->has_filter()) return SetError(AE_NO_FILTER, "Table " + t->display_name() + " has no filter");
    const std::string& text = t->filter_text();
    // The text and its terminating zero must fit.
    if (buffer == nullptr || static_cast<size_t>(*length) < text.size() + 1) {
      *length = static_cast<UNSIGNED16>(text.size() + 1 > 0xFFFF ? 0xFFFF : text.size() + 1);
      return SetError(AE_INSUFFICIENT_BUFFER, "Table " + t->display_name() + ": the filter needs " +
                                                  std::to_string(text.size() + 1) + " characters");
    }
    std::memcpy(buffer, text.data(), text.size());
    buffer[text.size()] = '\0';
    *length = static_cast<UNSIGNED16>(text.size());
    return 0;
  });
}

UNSIGNED32 AdsSetAOF(ADSHANDLE table, const std::string& expression, UNSIGNED16 options) {
  return WithTable(table, [&](EngineTable* t) -> UNSIGNED32 {
    (void)options;  // every filter is fully resolved by SQLite
    if (expression.size() > 0xFFFE) {
      return SetError(AE_KDX_FILTER_SYNTAX, "Table " + t->display_name() + ": the filter is longer than 65534 characters");
    }
    return t->SetFilter(expression);
  });
}

UNSIGNED32 AdsClearAOF(ADSHANDLE table) {
  return WithTable(table, [&](EngineTable* t) -> UNSIGNED32 {
    t->ClearFilter();
    return 0;
  });
}

UNSIGNED32 AdsGetExact22(ADSHANDLE table, UNSIGNED16* exact) {
  return WithTable(table, exact, "AdsGetExact22", [&](EngineTable* t) -> UNSIGNED32 {
    *exact = t->exact22() ? 1 : 0;
    return 0;
  });
}

UNSIGNED32 AdsSetExact22(ADSHANDLE table, UNSIGNED16 exact) {
  return WithTable(table, [&](EngineTable* t) -> UNSIGNED32 {
    return t->SetExact(exact != 0);
  });
}
