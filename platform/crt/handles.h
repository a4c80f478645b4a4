// Kernel handles of runtime descriptors (layer-private): _get_osfhandle gives them, and the
// kernel32 calls that take a file handle (CreateFileMappingA) read them back.
#pragma once

#include <climits>
#include <cstdint>

namespace rh::crt {

// The handle of descriptor fd: fd + 1, so that no descriptor's handle is null.
inline intptr_t HandleOfDescriptor(int fd) { return static_cast<intptr_t>(fd) + 1; }

// The descriptor a handle stands for, or -1 for a value no descriptor gives.
inline int DescriptorOfHandle(const void* handle) {
    const intptr_t value = reinterpret_cast<intptr_t>(handle);
    return value >= 1 && value <= INT_MAX ? static_cast<int>(value - 1) : -1;
}

}  // namespace rh::crt
