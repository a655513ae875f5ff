#include "suitedb/dialect.h"
#include "suitedb/schema_steps.h"

namespace rqc::suitedb {

// Reversal of consolidated requests: who reversed one and when; the list of a central
// branch's consolidations by generation time.
void schemaStep4(Connection& c) {
    c.exec(Dialect(c).schemaDdl(
        "ALTER TABLE CONSSOLI ADD COLUMN DTESTORNO {TS};\n"
        "ALTER TABLE CONSSOLI ADD COLUMN NMUSUESTORNO VARCHAR(40);\n"
        "CREATE INDEX IX_CONSSOLI_DTGERACAO ON CONSSOLI (CDFILCENTCMP, DTGERACAO);\n"));
}

}  // namespace rqc::suitedb
