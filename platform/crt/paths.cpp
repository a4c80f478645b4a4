#include "platform/crt/paths.h"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>

namespace rh::crt {
namespace {

bool SameIgnoringAsciiCase(const char* a, const char* b) {
    auto lower = [](unsigned char c) { return c >= 'A' && c <= 'Z' ? c + ('a' - 'A') : c; };
    for (; *a != '\0' && *b != '\0'; ++a, ++b) {
        if (lower(static_cast<unsigned char>(*a)) != lower(static_cast<unsigned char>(*b))) return false;
    }
    return *a == *b;
}

}  // namespace

std::string DiskPath(const char* name) {
    std::string path(name);
    std::replace(path.begin(), path.end(), '\\', '/');
    struct stat st;
    if (path.empty() || stat(path.c_str(), &st) == 0) return path;

    std::string resolved = path[0] == '/' ? "/" : "";
    size_t start = 0;
    while (start < path.size()) {
        size_t end = path.find('/', start);
        if (end == std::string::npos) end = path.size();
        std::string part = path.substr(start, end - start);
        start = end + 1;
        if (part.empty()) continue;

        std::string exact = resolved + part;
        if (lstat(exact.c_str(), &st) != 0) {
            DIR* dir = opendir(resolved.empty() ? "." : resolved.c_str());
            if (dir == nullptr) return path;
            while (dirent* entry = readdir(dir)) {
                if (SameIgnoringAsciiCase(entry->d_name, part.c_str())) {
                    part = entry->d_name;
                    break;
                }
            }
            closedir(dir);
        }
        resolved += part;
        if (end < path.size()) resolved += '/';
    }
    return resolved;
}

}  // namespace rh::crt
