// The PROXY v2 header as a balancer, or anyone reaching a trusted balancer's address, may send
// it: any bytes may be refused, none may crash, hang or read beyond them, and a header taken
// covers no more bytes than it was given.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>
#include <string>

#include "appserver/proxy_header.h"

using namespace rqc::appserver;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::span<const std::byte> bytes(reinterpret_cast<const std::byte*>(data), size);
    (void)startsLikeProxyHeader(bytes);
    if (size >= kProxyFixedSize) {
        const auto announced = proxyHeaderSize(bytes.first(kProxyFixedSize));
        if (announced && (*announced < kProxyFixedSize || *announced > kMaxProxyHeader))
            std::abort();
    }
    std::string fault;
    const auto header = parseProxyHeader(bytes, fault);
    if (header && (header->size < kProxyFixedSize || header->size > size))
        std::abort();
    if (!header && fault.empty())
        std::abort();
    return 0;
}
