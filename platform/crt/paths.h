// The rule for Windows file names on Linux disks (layer-private): '\' separates like '/', and a
// name that does not exist as written is looked up case-insensitively, one component at a
// time, as a Windows disk would match it.
#pragma once

#include <string>

namespace rh::crt {

// The Linux path to use for a Windows file name: the name with '/' separators when it exists
// as written (or when no case-insensitive match exists), else the matching path on disk.
// Components that do not exist in any case are kept as written, so a file about to be created
// keeps its name in a folder found without regard to case.
std::string DiskPath(const char* name);

}  // namespace rh::crt
