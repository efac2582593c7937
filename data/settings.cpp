#include "data/settings.h"

#include <mutex>

#include "data/engine_error.h"
#include "data/errors.h"
#include "engine/ads.h"
#include "util/date_format.h"
#include "util/error.h"

namespace {

// The count of settings components alive, guarded by its own lock.
std::mutex g_count_mu;
int g_count = 0;

constexpr char kDefaultEngineDateFormat[] = "MM/dd/ccyy";

[[noreturn]] void RaiseAdsError(UNSIGNED32 code) {
  throw AdsError(data_internal::AdsErrorMessageForCode(code));
}

void CheckSetting(UNSIGNED32 result) {
  if (result != AE_SUCCESS) RaiseAdsError(result);
}

}  // namespace

TAdsSettings::TAdsSettings(TComponent* owner, std::string name) : TComponent(owner, std::move(name)) {
  {
    std::lock_guard<std::mutex> lock(g_count_mu);
    ++g_count;
    if (g_count > 1) {
      --g_count;  // this instance will not exist
      throw Exception("Only one AdsSettings component is allowed per application");
    }
    counted_ = true;
  }
  try {
    sync_app_date_format_ = true;
    // NumCachedTables: 0 equals the initial value, so the engine is not asked.
    num_cached_tables_ = 0;
    CheckSetting(AdsCacheOpenCursors(25));
    num_cached_cursors_ = 25;

    // The engine takes the process's short date format when it can; the
    // process's own format is left as it is.
    const std::string current = ShortDateFormat();
    if (AdsSetDateFormat(current) == AE_SUCCESS) {
      date_format_ = current;
    } else {
      CheckSetting(AdsSetDateFormat(kDefaultEngineDateFormat));
      date_format_ = kDefaultEngineDateFormat;
    }

    UNSIGNED16 decimals = 0;
    CheckSetting(AdsGetDecimals(&decimals));
    num_decimals_ = static_cast<int8_t>(decimals);
    UNSIGNED16 deleted = 0;
    CheckSetting(AdsGetDeleted(&deleted));
    show_deleted_ = deleted != 0;

    const TAdsServerTypes types{TAdsServerType::stADS_REMOTE, TAdsServerType::stADS_AIS};
    CheckSetting(AdsSetServerType(types.Mask()));
    server_types_ = types;
  } catch (...) {
    std::lock_guard<std::mutex> lock(g_count_mu);
    --g_count;
    counted_ = false;
    throw;
  }
}

TAdsSettings::~TAdsSettings() {
  if (counted_) {
    std::lock_guard<std::mutex> lock(g_count_mu);
    --g_count;
  }
}

void TAdsSettings::SetDateFormat(const std::string& format) {
  const std::string f = format.empty() ? std::string(kDefaultEngineDateFormat) : format;
  CheckSetting(AdsSetDateFormat(f));
  date_format_ = f;
  if (sync_app_date_format_) {
    std::string app_format = f;
    for (char& c : app_format) {
      if (c == 'c' || c == 'C' || c == 'y' || c == 'Y') c = 'y';
    }
    SetShortDateFormat(app_format);
  }
  // Every character that is not a pattern letter becomes the date separator
  // in turn, so the last one wins.
  for (char c : f) {
    switch (c) {
      case 'c': case 'C': case 'y': case 'Y': case 'm': case 'M': case 'd': case 'D':
        break;
      default:
        SetDateSeparator(c);
    }
  }
}

void TAdsSettings::SetNumDecimals(int8_t decimals) {
  CheckSetting(AdsSetDecimals(static_cast<UNSIGNED16>(static_cast<uint8_t>(decimals))));
  num_decimals_ = decimals;
}

void TAdsSettings::SetShowDeleted(bool on) {
  CheckSetting(AdsShowDeleted(on ? 1 : 0));
  show_deleted_ = on;
}

void TAdsSettings::SetAdsServerTypes(TAdsServerTypes types) {
  if (types == server_types_) return;
  const TAdsServerTypes previous = server_types_;
  // A failed change leaves the previous set, or the remote server alone when
  // there was none.
  auto restore = [&] {
    server_types_ = previous.Empty() ? TAdsServerTypes{TAdsServerType::stADS_REMOTE} : previous;
  };
  server_types_ = types;
  if (types.Mask() == 0) {
    restore();
    throw AdsSettingsError("At least one server type must be selected.");
  }
  const UNSIGNED32 result = AdsSetServerType(types.Mask());
  if (result != AE_SUCCESS) {
    restore();
    RaiseAdsError(result);
  }
}

void TAdsSettings::SetNumCachedTables(int8_t count) {
  if (count < 0) throw Exception("NumCachedTables value must be greater than zero.");
  if (count == num_cached_tables_) return;
  CheckSetting(AdsCacheOpenTables(static_cast<UNSIGNED16>(count)));
  num_cached_tables_ = count;
}

void TAdsSettings::SetNumCachedCursors(int8_t count) {
  if (count < 0) throw Exception("NumCachedCursors value must be greater than zero.");
  if (count == num_cached_cursors_) return;
  CheckSetting(AdsCacheOpenCursors(static_cast<UNSIGNED16>(count)));
  num_cached_cursors_ = count;
}
