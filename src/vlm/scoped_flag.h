#pragma once
// A flag that is true while a scope runs (Qt Core only).

namespace vlm {

// Sets `flag` when made and clears it when it goes, however the scope ends.
class ScopedFlag {
  public:
    explicit ScopedFlag(bool& flag) : m_flag(flag) { m_flag = true; }
    ~ScopedFlag() { m_flag = false; }
    ScopedFlag(const ScopedFlag&) = delete;
    ScopedFlag& operator=(const ScopedFlag&) = delete;

  private:
    bool& m_flag;
};

}  // namespace vlm
