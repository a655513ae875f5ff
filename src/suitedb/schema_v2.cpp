#include "suitedb/dialect.h"
#include "suitedb/schema_steps.h"

namespace rqc::suitedb {

// Version 2: cheap marks and a selection planned by set. No plan reads ITSOLICMP by its mark,
// while the index on it turned every mark into a new entry in every index of the table (never
// an update in place). On PostgreSQL the request lines also get half of each page free for
// updates in place (the table is rewritten so that the lines already stored get that room
// too), and the key to their request becomes a foreign key, which is what lets the planner
// count the lines a join of requests and lines yields.
void schemaStep2(Connection& c) {
    c.exec("DROP INDEX IF EXISTS IX_ITSOLICMP_NRCONSSOLI");
    Dialect(c).rebuildRequestLines(c);
}

}  // namespace rqc::suitedb
