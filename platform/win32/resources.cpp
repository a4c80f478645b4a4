// Module resources: FindResourceA and friends over the table linked into the executable.

#include "platform/win32/resource_table.h"

#include <windows.h>

#include <cstring>

namespace rh::win32 {
namespace {

const ResourceEntry* g_entries = nullptr;
size_t g_count = 0;

// The executable is the only module; its handle is a fixed non-null token.
HMODULE ThisModule() {
    static char token;
    return reinterpret_cast<HMODULE>(&token);
}

bool EqualsIgnoringCase(const char* a, const char* b) {
    for (; *a && *b; ++a, ++b) {
        char ca = (*a >= 'a' && *a <= 'z') ? char(*a - 32) : *a;
        char cb = (*b >= 'a' && *b <= 'z') ? char(*b - 32) : *b;
        if (ca != cb) return false;
    }
    return *a == *b;
}

// A resource name or type as Windows passes it: an integer in the low word of the pointer,
// a "#123" text naming that integer, or a text compared without regard to case.
struct Key {
    bool isInt = false;
    uint16_t id = 0;
    const char* text = nullptr;
};

bool MakeKey(LPCSTR p, Key* key) {
    if (IS_INTRESOURCE(p)) {
        key->isInt = true;
        key->id = static_cast<uint16_t>(reinterpret_cast<ULONG_PTR>(p));
        return true;
    }
    if (p[0] == '#') {
        unsigned long v = 0;
        const char* q = p + 1;
        if (*q == '\0') return false;
        for (; *q; ++q) {
            if (*q < '0' || *q > '9') return false;
            v = v * 10 + unsigned(*q - '0');
            if (v > 0xFFFF) return false;
        }
        key->isInt = true;
        key->id = static_cast<uint16_t>(v);
        return true;
    }
    key->text = p;
    return true;
}

bool Matches(const Key& key, const char* text, uint16_t id) {
    if (key.isInt) return text == nullptr && id == key.id;
    return text != nullptr && EqualsIgnoringCase(text, key.text);
}

}  // namespace

ResourceTableRegistration::ResourceTableRegistration(const ResourceEntry* entries, size_t count) {
    g_entries = entries;
    g_count = count;
}

}  // namespace rh::win32

using rh::win32::ResourceEntry;

HMODULE WINAPI GetModuleHandleA(LPCSTR moduleName) {
    return moduleName == nullptr ? rh::win32::ThisModule() : nullptr;
}

HRSRC WINAPI FindResourceA(HMODULE module, LPCSTR name, LPCSTR type) {
    if ((module != nullptr && module != rh::win32::ThisModule()) || name == nullptr ||
        type == nullptr) {
        return nullptr;
    }
    rh::win32::Key nameKey, typeKey;
    if (!rh::win32::MakeKey(name, &nameKey) || !rh::win32::MakeKey(type, &typeKey)) return nullptr;
    for (size_t i = 0; i < rh::win32::g_count; ++i) {
        const ResourceEntry& e = rh::win32::g_entries[i];
        if (rh::win32::Matches(typeKey, e.typeName, e.typeId) &&
            rh::win32::Matches(nameKey, e.name, e.id)) {
            return reinterpret_cast<HRSRC>(const_cast<ResourceEntry*>(&e));
        }
    }
    return nullptr;
}

HGLOBAL WINAPI LoadResource(HMODULE, HRSRC resource) {
    if (resource == nullptr) return nullptr;
    const auto* e = reinterpret_cast<const ResourceEntry*>(resource);
    return const_cast<unsigned char*>(e->data);
}

LPVOID WINAPI LockResource(HGLOBAL data) { return data; }

DWORD WINAPI SizeofResource(HMODULE, HRSRC resource) {
    if (resource == nullptr) return 0;
    return static_cast<DWORD>(*reinterpret_cast<const ResourceEntry*>(resource)->size);
}
