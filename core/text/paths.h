// Taking paths apart, and two small disk-file queries. A separator is '/' or '\' wherever it
// stands; a '.' in a directory name never counts as an extension.
#pragma once

#include "core/text/string.h"

#include <cstdio>

// The part after the last separator; the whole path when it has none; "" when the path ends
// with a separator or is empty. "a\b/c.txt" gives "c.txt".
String ExtractFileName(const String& path);
// The part before the last separator; "" when there is none, when the last separator is the
// first byte, or when the path is empty. "a\b/c.txt" gives "a\b", "/c.txt" gives "".
String ExtractDirectory(const String& path);
// ExtractDirectory followed by "/" when that is not empty; else "".
String ExtractDirectoryPrefix(const String& path);
// The text after the last '.' of the file name; "" when the file name has no '.' or ends with
// it. "a.tar.gz" gives "gz".
String ExtractExtension(const String& path);
// The file name without its last '.' and what follows; the whole file name when it has no '.';
// "" when its last '.' is its first byte (".hidden").
String ExtractBaseName(const String& path);

// True when the file opens for reading (the C runtime's fopen with "r", so Windows names work:
// '\' separators, any case); the file is closed again. False for a null path, and false at
// once for a folder, FIFO or device, which the runtime never opens as a file.
bool FileExists(const char* path);
// The length in bytes of an open file, -1 when the runtime cannot tell; 0 for a null handle.
long FileLength(FILE* file);
