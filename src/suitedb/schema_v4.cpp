#include "suitedb/schema_steps.h"

namespace rqc::suitedb {

// Reversal of consolidated requests: who reversed one and when; the list of a central
// branch's consolidations by generation time.
void schemaStep4(Connection& c) {
    const bool pg = c.engine() == Engine::Postgres;
    c.exec(std::string("ALTER TABLE CONSSOLI ADD COLUMN DTESTORNO ") + (pg ? "TIMESTAMP" : "TEXT") +
           ";\n"
           "ALTER TABLE CONSSOLI ADD COLUMN NMUSUESTORNO VARCHAR(40);\n"
           "CREATE INDEX IX_CONSSOLI_DTGERACAO ON CONSSOLI (CDFILCENTCMP, DTGERACAO);\n");
}

}  // namespace rqc::suitedb
