// Code-page conversions. The program never sets a locale, and on its original platform the
// "C" locale maps bytes 0-255 one-to-one to code points 0-255; CP_ACP reproduces that here,
// independent of the process locale.

#include <windows.h>

namespace {

int WideLength(LPCWSTR wide, int count) {
    if (count >= 0) return count;
    int n = 0;
    while (wide[n] != 0) ++n;
    return n + 1;  // a -1 count includes the terminator
}

}  // namespace

int WINAPI WideCharToMultiByte(UINT codePage, DWORD, LPCWSTR wide, int wideCount, LPSTR out,
                               int outSize, LPCSTR defaultChar, LPBOOL usedDefault) {
    if (codePage != CP_ACP || wide == nullptr || wideCount == 0 || outSize < 0 ||
        (outSize > 0 && out == nullptr)) {
        return 0;
    }
    int n = WideLength(wide, wideCount);
    if (outSize == 0) return n;
    if (usedDefault != nullptr) *usedDefault = FALSE;
    char fallback = defaultChar != nullptr ? *defaultChar : '?';
    for (int i = 0; i < n; ++i) {
        if (i >= outSize) return 0;  // too small: Windows fails the call
        if (wide[i] <= 0xFF) {
            out[i] = static_cast<char>(wide[i]);
        } else {
            out[i] = fallback;
            if (usedDefault != nullptr) *usedDefault = TRUE;
        }
    }
    return n;
}

int WINAPI MultiByteToWideChar(UINT codePage, DWORD, LPCSTR text, int textCount, LPWSTR out,
                               int outCount) {
    if (codePage != CP_ACP || text == nullptr || textCount == 0 || outCount < 0 ||
        (outCount > 0 && out == nullptr)) {
        return 0;
    }
    int n = textCount;
    if (n < 0) {
        n = 0;
        while (text[n] != '\0') ++n;
        ++n;
    }
    if (outCount == 0) return n;
    if (outCount < n) return 0;
    for (int i = 0; i < n; ++i) out[i] = static_cast<unsigned char>(text[i]);
    return n;
}
