#include "suitedb/dialect.h"
#include "suitedb/schema_steps.h"

namespace rqc::suitedb {

// Version 3: operators who log in to the application server (password hash) and the remote
// objects each may call.
void schemaStep3(Connection& c) {
    c.exec(Dialect(c).schemaDdl(R"(
CREATE TABLE OPERADORSENHA (
    CDOPERADOR VARCHAR(12) NOT NULL PRIMARY KEY REFERENCES OPERADOR (CDOPERADOR),
    DSHASH VARCHAR(128) NOT NULL,
    DTALTERACAO {TS} NOT NULL
);
CREATE TABLE PERMISSAO (
    CDOPERADOR VARCHAR(12) NOT NULL REFERENCES OPERADORSENHA (CDOPERADOR),
    NMOBJETO VARCHAR(60) NOT NULL,
    PRIMARY KEY (CDOPERADOR, NMOBJETO)
);
)"));
}

}  // namespace rqc::suitedb
