// The rule for Windows file names on Linux disks (layer-private): '\' separates like '/', and a
// name that does not exist as written is looked up case-insensitively, one component at a
// time, as a Windows disk would match it. The names of a folder read that way are kept while
// the folder is unchanged, so that looking up many names in one folder reads it once.
#pragma once

#include <string>

namespace rh::crt {

// The Linux path to use for a Windows file name: the name with '/' separators when it exists
// as written (or when no case-insensitive match exists), else the matching path on disk.
// Components that do not exist in any case are kept as written, so a file about to be created
// keeps its name in a folder found without regard to case.
// With `missing`, also whether the lookup saw that the last component, or a folder on the way
// to it, exists in no case in its folder (the folder read, nothing of that name): opening the
// path to read would fail.
std::string DiskPath(const char* name, bool* missing = nullptr);

// Drops the folder states the thread's open lookup batch has read (rimeholt/file_lookups.h),
// for a call of the layer that has just added or removed a folder entry.
void ForgetFolderReadings();

}  // namespace rh::crt
