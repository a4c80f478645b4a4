#include "core/files/stream.h"

#include "core/text/wide_string.h"

int32_t Stream::ReadWideString(WideString& out, int32_t n) {
    out.Clear();
    if (n < 0) n = 0;
    char16_t* block = new char16_t[n + 1]();
    const int32_t result = Read(block, n * 2);
    // The units a short read left unwritten stay zero rather than garbage.
    out = WideString(block, n, false);
    return result;
}
