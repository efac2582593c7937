// Error codes of SQL statements, sealed tables and dictionary accounts
// (the engine's 6100-6199 range; docs/database-format.md lists them all).
#ifndef KDX_ENGINE_SQL_CODES_H_
#define KDX_ENGINE_SQL_CODES_H_

#include "engine/ads.h"

constexpr UNSIGNED32 AE_KDX_LOGIN_FAILED = 6101;            // dictionary user name or password refused
constexpr UNSIGNED32 AE_KDX_TABLE_PASSWORD_MISSING = 6102;  // a statement reads a sealed table without its password
constexpr UNSIGNED32 AE_KDX_SEALED_REFUSED = 6103;          // wrong table password, or a damaged sealed file
constexpr UNSIGNED32 AE_KDX_SQL_PREPARE = 6104;             // the SQL text cannot be prepared
constexpr UNSIGNED32 AE_KDX_SQL_PARAMETER = 6105;           // parameter name, position or value refused
constexpr UNSIGNED32 AE_KDX_SQL_EXECUTE = 6106;             // the statement failed while running
constexpr UNSIGNED32 AE_KDX_SQL_NOT_PREPARED = 6107;        // executed or bound before AdsPrepareSQL
// AE_KDX_TABLE_SEALED (6108), a sealed table read without its password, is
// in engine/ads.h: the data layer needs it.

// The fixed text of one of the codes above ("" for any other code).
const char* SqlCodeText(UNSIGNED32 code);

#endif  // KDX_ENGINE_SQL_CODES_H_
