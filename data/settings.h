// TAdsSettings: the engine's process-wide defaults (date format, decimals,
// deleted records, server types, cache sizes), set once when the main window
// is created. At most one exists per process (a counter guarded by a mutex).
// Setting DateFormat with SyncAppDateFormat on also sets the program's default
// short date format and date separator (util/date_format.h).
#ifndef KDX_DATA_SETTINGS_H_
#define KDX_DATA_SETTINGS_H_

#include <cstdint>
#include <string>

#include "data/component.h"
#include "data/server_type_mask.h"

class TAdsSettings : public TComponent {
 public:
  // Makes the construction-time engine calls; a second live instance raises
  // Exception "Only one AdsSettings component is allowed per application".
  TAdsSettings(TComponent* owner, std::string name);
  ~TAdsSettings() override;

  void SetDateFormat(const std::string& format);
  const std::string& DateFormat() const { return date_format_; }
  void SetNumDecimals(int8_t decimals);
  int8_t NumDecimals() const { return num_decimals_; }
  void SetSyncAppDateFormat(bool on) { sync_app_date_format_ = on; }
  bool SyncAppDateFormat() const { return sync_app_date_format_; }
  void SetShowDeleted(bool on);
  bool ShowDeleted() const { return show_deleted_; }
  void SetAdsServerTypes(TAdsServerTypes types);
  TAdsServerTypes AdsServerTypes() const { return server_types_; }
  void SetNumCachedTables(int8_t count);
  int8_t NumCachedTables() const { return num_cached_tables_; }
  void SetNumCachedCursors(int8_t count);
  int8_t NumCachedCursors() const { return num_cached_cursors_; }

 private:
  std::string date_format_;
  int8_t num_decimals_ = 0;
  bool sync_app_date_format_ = true;
  bool show_deleted_ = false;
  TAdsServerTypes server_types_;
  int8_t num_cached_tables_ = 0;
  int8_t num_cached_cursors_ = 0;
  bool counted_ = false;
};

#endif  // KDX_DATA_SETTINGS_H_
