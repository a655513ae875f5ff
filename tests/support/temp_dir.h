#pragma once

#include <filesystem>
#include <string>

namespace rqc::test {

// A fresh directory under the system temp folder, removed with everything in it on
// destruction (kept when RQC_KEEP_TEMP is set, for post-mortems).
class TempDir {
  public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::filesystem::path& path() const { return m_path; }
    std::string file(const std::string& name) const { return (m_path / name).string(); }

  private:
    std::filesystem::path m_path;
};

}  // namespace rqc::test
