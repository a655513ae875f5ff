#pragma once
// In-memory data set filled from the application server's data packets.

#include "data_set.h"
#include "net_connection.h"

// Declare persistent fields (AddField) before the first SetData; each SetData then replaces
// the whole content and must carry every declared field (by name, ignoring case), or it
// fails with std::runtime_error naming the missing field and leaves the content as it was.
class VLM_EXPORT TClientDataSet : public TDataSet {
    Q_OBJECT
  public:
    explicit TClientDataSet(QObject* parent = nullptr);

    // Takes a Packet result; any other kind throws std::runtime_error, content unchanged.
    void SetData(const TServerResult& data);
    void SetData(const rqc::protocol::DataPacket& packet);
};
