// The options every table of the system is opened with, whether a TAdsTable
// opens it or an SQL statement of a TAdsQuery does: proprietary locking,
// ANSI characters, rights not checked, ADT tables. Internal to the data
// layer.
#ifndef KDX_DATA_TABLE_OPTIONS_H_
#define KDX_DATA_TABLE_OPTIONS_H_

#include "engine/ads.h"

namespace data_internal {

inline constexpr UNSIGNED16 kLockProprietary = 1;
inline constexpr UNSIGNED16 kCharTypeAnsi = 1;
inline constexpr UNSIGNED16 kRightsNotChecked = 2;
inline constexpr UNSIGNED16 kTableTypeAdt = 3;

}  // namespace data_internal

#endif  // KDX_DATA_TABLE_OPTIONS_H_
