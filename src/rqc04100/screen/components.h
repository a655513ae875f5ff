#pragma once
// The form's non-visual components as data: the database statements and persistent fields
// of its queries, its client data sets, data sources and server connection.

#include <QString>
#include <QStringList>
#include <vector>

namespace rqc04100 {

// A persistent text field. An empty label shows the field name; displayWidth 0 means size.
struct FieldSpec {
    QString name;
    int size = 0;
    QString label;
    int displayWidth = 0;
    bool required = false;
    bool visible = true;
    QString origin;
};

// A query: its statement texts (one per dialect; an empty dialect text means "none") and the
// persistent fields it yields.
struct QuerySpec {
    QString name;
    QStringList sql;
    QStringList sqlOracle;
    QStringList sqlMssql;
    QStringList sqlIb;
    QStringList params;
    std::vector<FieldSpec> fields;
};

// A client data set and the fields its data packets must carry.
struct ClientDataSetSpec {
    QString name;
    std::vector<FieldSpec> fields;
};

// A data source and the data set it binds.
struct DataSourceSpec {
    QString name;
    QString dataSet;
};

const QuerySpec& qryCentCompSpec();
const QuerySpec& qryPesqFilialSpec();
const QuerySpec& qryProdutoSpec();
const QuerySpec& qryCompradorSpec();
// The four queries in declaration order.
const std::vector<const QuerySpec*>& querySpecs();

const ClientDataSetSpec& cdsSolicitacaoSpec();
const ClientDataSetSpec& cdsParaCmpSupSpec();

const std::vector<DataSourceSpec>& dataSourceSpecs();

// The server connection: remote object name, ThrowException, event wiring.
struct ConnectionSpec {
    QString name;
    QString serverName;
    bool throwException = false;
    QString beforeConnect;  // handler of BeforeConnect
};

const ConnectionSpec& netConsolidaSolicitaSpec();

}  // namespace rqc04100
