#include "write_queue.h"

#include <spdlog/spdlog.h>

#include <filesystem>
#include <map>
#include <memory>

#include "error_text.h"
#include "suitedb/connection.h"
#include "worker_connection.h"

namespace rqc::appserver {

ServerBusyError::ServerBusyError() : UserFacingError(messages::serverBusy()) {}

void WriteQueue::acquire() {
    std::unique_lock lock(m_mutex);
    const std::uint64_t ahead = m_next - m_serving;  // the writer plus those waiting
    if (ahead > m_capacity) {
        spdlog::warn("write queue full: {} calls waiting; refusing another", ahead - 1);
        throw ServerBusyError();
    }
    const std::uint64_t ticket = m_next++;
    m_turn.wait(lock, [&] { return m_serving == ticket; });
}

void WriteQueue::release() noexcept {
    {
        std::lock_guard lock(m_mutex);
        ++m_serving;
    }
    m_turn.notify_all();
}

std::size_t WriteQueue::waiting() const {
    std::lock_guard lock(m_mutex);
    const std::uint64_t ahead = m_next - m_serving;
    return ahead == 0 ? 0 : static_cast<std::size_t>(ahead - 1);
}

WriteQueue& WriteQueue::forFile(const std::string& path) {
    static std::mutex mutex;
    static std::map<std::string, std::unique_ptr<WriteQueue>> queues;
    std::error_code ec;
    std::string key = std::filesystem::weakly_canonical(path, ec).string();
    if (ec || key.empty())
        key = path;
    std::lock_guard lock(mutex);
    auto& q = queues[key];
    if (!q)
        q = std::make_unique<WriteQueue>();
    return *q;
}

WriteTurn::WriteTurn(WorkerConnection& db) {
    if (suitedb::Connection::isPostgresTarget(db.target()))
        return;
    WriteQueue& queue = WriteQueue::forFile(db.target());
    queue.acquire();
    m_queue = &queue;
}

WriteTurn::WriteTurn(WriteQueue& queue) {
    queue.acquire();
    m_queue = &queue;
}

WriteTurn::~WriteTurn() {
    if (m_queue != nullptr)
        m_queue->release();
}

}  // namespace rqc::appserver
