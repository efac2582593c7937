// The engine's process-wide settings (AdsSetDateFormat, AdsSetDecimals,
// AdsShowDeleted, AdsSetServerType, the cache sizes). Read and written only
// under the engine's lock.
#ifndef KDX_ENGINE_SETTINGS_H_
#define KDX_ENGINE_SETTINGS_H_

#include <string>

#include "engine/ads.h"

namespace engine {

struct EngineSettings {
  std::string date_format = "MM/dd/ccyy";
  UNSIGNED16 decimals = 2;
  UNSIGNED16 show_deleted = 1;
  UNSIGNED16 server_types = ADS_LOCAL_SERVER | ADS_REMOTE_SERVER | ADS_AIS_SERVER;
  UNSIGNED16 cached_tables = 0;
  UNSIGNED16 cached_cursors = 25;
};

EngineSettings& Settings();

}  // namespace engine

#endif  // KDX_ENGINE_SETTINGS_H_
