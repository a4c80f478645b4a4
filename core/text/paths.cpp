// Path pieces and disk-file queries.

#include "core/text/paths.h"

#include <io.h>

namespace {

bool IsSeparator(char c) { return c == '/' || c == '\\'; }

// The index of the last separator, or -1.
int32_t LastSeparator(const String& path) {
    for (int32_t i = path.length() - 1; i >= 0; --i) {
        if (IsSeparator(path.data()[i])) return i;
    }
    return -1;
}

// The index of the last '.' in the file name, or -1.
int32_t LastDot(const String& name) {
    for (int32_t i = name.length() - 1; i >= 0; --i) {
        if (name.data()[i] == '.') return i;
    }
    return -1;
}

}  // namespace

String ExtractFileName(const String& path) {
    // An empty string may have no buffer, and no offset may be added to a null pointer.
    if (path.length() == 0) return String();
    const int32_t separator = LastSeparator(path);
    return String(path.data() + separator + 1, path.length() - separator - 1, true);
}

String ExtractDirectory(const String& path) {
    const int32_t separator = LastSeparator(path);
    if (separator <= 0) return String();
    return String(path.data(), separator, true);
}

String ExtractDirectoryPrefix(const String& path) {
    String directory = ExtractDirectory(path);
    if (directory.length() == 0) return directory;
    return ConcatStringText(directory, "/");
}

String ExtractExtension(const String& path) {
    const String name = ExtractFileName(path);
    const int32_t dot = LastDot(name);
    if (dot < 0) return String();
    return String(name.data() + dot + 1, name.length() - dot - 1, true);
}

String ExtractBaseName(const String& path) {
    const String name = ExtractFileName(path);
    const int32_t dot = LastDot(name);
    if (dot < 0) return name;
    return String(name.data(), dot, true);
}

bool FileExists(const char* path) {
    if (path == nullptr) return false;
    FILE* file = std::fopen(path, "r");
    if (file == nullptr) return false;
    std::fclose(file);
    return true;
}

long FileLength(FILE* file) {
    if (file == nullptr) return 0;
    return _filelength(fileno(file));
}
