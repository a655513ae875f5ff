#pragma once
// The silent abort and the shape of every error text of the package (Qt Core only).

#include <QString>
#include <exception>

#include "vlm_export.h"

// The silent abort: ends the running event handler without any message of its own.
class VLM_EXPORT EAbort : public std::exception {
  public:
    const char* what() const noexcept override;
};

namespace vlm {

// A message for the user followed, below a blank line, by its technical detail.
VLM_EXPORT QString withDetail(const QString& text, const QString& detail);

}  // namespace vlm
