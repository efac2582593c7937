// Opening a query of the run on a statement of its own: the one way the
// exports replace a query's statement and bind its date parameters, so that
// the run and the site check open it alike.
#ifndef KDX_EXPORTS_RUN_STATEMENT_H_
#define KDX_EXPORTS_RUN_STATEMENT_H_

#include <initializer_list>
#include <utility>

#include "util/date_time.h"

class TAdsQuery;

// Closes `query`, replaces its statement with the one line `statement`,
// binds each named date-time parameter of `dates` and opens it (running its
// before-open hook). Raises the query's database errors.
void OpenOnStatement(TAdsQuery& query, const char* statement,
                     std::initializer_list<std::pair<const char*, TDateTime>> dates);

#endif  // KDX_EXPORTS_RUN_STATEMENT_H_
