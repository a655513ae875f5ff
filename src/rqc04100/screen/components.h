#pragma once
// The form's non-visual components as data: the database statements and persistent fields
// of its queries, its client data sets, data sources and server connection.

#include <QString>
#include <QStringList>
#include <vector>

#include "rqc04100_export.h"
#include "screen/event_wire.h"

namespace rqc04100 {

// A persistent text field. An empty label shows the field name; displayWidth 0 means size.
struct FieldDefinition {
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
struct QueryDefinition {
    QString name;
    QStringList sql;
    QStringList sqlOracle;
    QStringList sqlMssql;
    QStringList sqlIb;
    std::vector<FieldDefinition> fields;
};

// A client data set and the fields its data packets must carry.
struct ClientDataSetDefinition {
    QString name;
    std::vector<FieldDefinition> fields;
};

// A data source and the data set it binds.
struct DataSourceLink {
    QString name;
    QString dataSet;
};

RQC04100_EXPORT const QueryDefinition& qryCentCompDefinition();
RQC04100_EXPORT const QueryDefinition& qryPesqFilialDefinition();
RQC04100_EXPORT const QueryDefinition& qryProdutoDefinition();
RQC04100_EXPORT const QueryDefinition& qryCompradorDefinition();

RQC04100_EXPORT const ClientDataSetDefinition& cdsSolicitacaoDefinition();
RQC04100_EXPORT const ClientDataSetDefinition& cdsParaCmpSupDefinition();

RQC04100_EXPORT const std::vector<DataSourceLink>& dataSourceLinks();

// The server connection: remote object name, ThrowException, event wiring.
struct ConnectionDefinition {
    QString name;
    QString serverName;
    bool throwException = false;
    NotifyHandler beforeConnect = nullptr;  // handler of BeforeConnect
};

RQC04100_EXPORT const ConnectionDefinition& netConsolidaSolicitaDefinition();

}  // namespace rqc04100
