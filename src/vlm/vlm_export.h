#pragma once

#if defined(VLM_BUILDING)
#define VLM_EXPORT __attribute__((visibility("default")))
#else
#define VLM_EXPORT
#endif
