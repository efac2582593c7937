// The process-wide settings and their entry points.
#include "engine/settings.h"

#include "engine/errors.h"

namespace engine {

EngineSettings& Settings() {
  static EngineSettings settings;
  return settings;
}

}  // namespace engine

using namespace engine;

namespace {

// A date format is made of d, M, y, c and separators (anything that is not a
// letter or a digit), at most 11 characters, and names day, month and year.
bool ValidDateFormat(const std::string& format, std::string* why) {
  if (format.empty()) {
    *why = "the format is empty";
    return false;
  }
  if (format.size() > 11) {
    *why = "the format is longer than 11 characters";
    return false;
  }
  bool day = false, month = false, year = false;
  for (char c : format) {
    switch (c) {
      case 'd': case 'D': day = true; break;
      case 'M': case 'm': month = true; break;
      case 'y': case 'Y': case 'c': case 'C': year = true; break;
      default:
        if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')) {
          *why = std::string("'") + c + "' is neither d, M, y, c nor a separator";
          return false;
        }
    }
  }
  if (!day || !month || !year) {
    *why = "the format must name the day (d), the month (M) and the year (y or c)";
    return false;
  }
  return true;
}

}  // namespace

UNSIGNED32 AdsSetDateFormat(const std::string& format) {
  EngineGuard guard(EngineMutex());
  std::string why;
  if (!ValidDateFormat(format, &why)) {
    return SetError(AE_KDX_DATE_FORMAT, "Date format '" + format + "' refused: " + why);
  }
  Settings().date_format = format;
  return 0;
}

UNSIGNED32 AdsGetDateFormat(std::string* format) {
  EngineGuard guard(EngineMutex());
  if (format == nullptr) return SetError(AE_KDX_INVALID_ARGUMENT, "AdsGetDateFormat: no place for the format");
  *format = Settings().date_format;
  return 0;
}

UNSIGNED32 AdsGetDecimals(UNSIGNED16* decimals) {
  EngineGuard guard(EngineMutex());
  if (decimals == nullptr) return SetError(AE_KDX_INVALID_ARGUMENT, "AdsGetDecimals: no place for the value");
  *decimals = Settings().decimals;
  return 0;
}

UNSIGNED32 AdsSetDecimals(UNSIGNED16 decimals) {
  EngineGuard guard(EngineMutex());
  if (decimals > 15) {
    return SetError(AE_KDX_INVALID_ARGUMENT, "AdsSetDecimals: " + std::to_string(decimals) +
                                                 " decimals is more than the 15 a double can show");
  }
  Settings().decimals = decimals;
  return 0;
}

UNSIGNED32 AdsGetDeleted(UNSIGNED16* show_deleted) {
  EngineGuard guard(EngineMutex());
  if (show_deleted == nullptr) return SetError(AE_KDX_INVALID_ARGUMENT, "AdsGetDeleted: no place for the value");
  *show_deleted = Settings().show_deleted;
  return 0;
}

UNSIGNED32 AdsShowDeleted(UNSIGNED16 show_deleted) {
  EngineGuard guard(EngineMutex());
  Settings().show_deleted = show_deleted != 0 ? 1 : 0;
  return 0;
}

UNSIGNED32 AdsSetServerType(UNSIGNED16 mask) {
  EngineGuard guard(EngineMutex());
  constexpr UNSIGNED16 kKnown = ADS_LOCAL_SERVER | ADS_REMOTE_SERVER | ADS_AIS_SERVER;
  if (mask == 0 || (mask & ~kKnown) != 0) {
    return SetError(AE_KDX_INVALID_ARGUMENT, "AdsSetServerType: invalid server-type mask " + std::to_string(mask));
  }
  Settings().server_types = mask;
  return 0;
}

UNSIGNED32 AdsCacheOpenTables(UNSIGNED16 count) {
  EngineGuard guard(EngineMutex());
  Settings().cached_tables = count;
  return 0;
}

UNSIGNED32 AdsCacheOpenCursors(UNSIGNED16 count) {
  EngineGuard guard(EngineMutex());
  Settings().cached_cursors = count;
  return 0;
}

