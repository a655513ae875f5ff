#include "temp_dir.h"

#include <cstdlib>
#include <stdexcept>
#include <system_error>

namespace rqc::test {

TempDir::TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "rqc-test-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) {
        throw std::runtime_error("cannot create a temporary directory from " + pattern);
    }
    m_path = pattern;
}

TempDir::~TempDir() {
    if (std::getenv("RQC_KEEP_TEMP") != nullptr)
        return;
    std::error_code ec;
    std::filesystem::remove_all(m_path, ec);
}

}  // namespace rqc::test
