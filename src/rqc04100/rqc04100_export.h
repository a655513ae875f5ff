#pragma once
// The module is built with hidden visibility; only what carries RQC04100_EXPORT is seen by
// the host and by tests.

#define RQC04100_EXPORT __attribute__((visibility("default")))
