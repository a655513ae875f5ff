#include "suitedb/schema_steps.h"

namespace rqc::suitedb {

// Login attempts, counted by every application server of one database in one table: per key
// (a client address, or an operator from an address) the failures, the attempts under way and
// since when, the last failure and the time before which the key is refused, in milliseconds
// since the epoch.
void schemaStep5(Connection& c) {
    c.exec(
        "CREATE TABLE LOGINFALHA (CHAVE VARCHAR(100) NOT NULL PRIMARY KEY, "
        "NRFALHAS INTEGER NOT NULL, NRCURSO INTEGER NOT NULL, DTCURSO BIGINT NOT NULL, "
        "DTULTIMA BIGINT NOT NULL, DTLIBERA BIGINT NOT NULL);\n");
}

}  // namespace rqc::suitedb
