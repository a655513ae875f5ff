#pragma once
// The module is built with hidden visibility; only what carries RQC04200_EXPORT is seen by
// the host and by tests.

#define RQC04200_EXPORT __attribute__((visibility("default")))
