#include "client_data_set.h"

#include "protocol/protocol.h"

TClientDataSet::TClientDataSet(QObject* parent) : TDataSet(parent) {}

void TClientDataSet::SetData(const TServerResult& data) {
    if (data.Packet() == nullptr) {
        throw std::runtime_error(objectName().toStdString() +
                                 ": expected a data packet, the server result is " +
                                 TServerResult::kindName(data.kind()));
    }
    SetData(*data.Packet());
}

void TClientDataSet::SetData(const rqc::protocol::DataPacket& packet) {
    const std::size_t columns = packet.fields.size();
    QStringList names;
    QVector<int> sizes;
    names.reserve(static_cast<qsizetype>(columns));
    sizes.reserve(static_cast<qsizetype>(columns));
    for (const auto& f : packet.fields) {
        names.push_back(QString::fromStdString(f.name));
        sizes.push_back(static_cast<int>(f.width));
    }
    const std::size_t rowCount = packet.rowCount();
    std::vector<std::vector<Cell>> rows(rowCount);
    const auto& cells = packet.cells();
    for (std::size_t r = 0; r < rowCount; ++r) {
        auto& row = rows[r];
        row.reserve(columns);
        for (std::size_t c = 0; c < columns; ++c) {
            const auto& cell = cells[r * columns + c];
            if (cell) {
                row.emplace_back(
                    QString::fromUtf8(cell->data(), static_cast<qsizetype>(cell->size())));
            } else {
                row.emplace_back(std::nullopt);
            }
        }
    }
    replaceContent(names, sizes, std::move(rows));
    for (const auto& field : Fields()) {
        if (!field->Origin.isEmpty())
            continue;
        for (std::size_t i = 0; i < columns; ++i) {
            if (names[static_cast<qsizetype>(i)].compare(field->FieldName, Qt::CaseInsensitive) ==
                0) {
                field->Origin = QString::fromStdString(packet.fields[i].origin);
                break;
            }
        }
    }
}
