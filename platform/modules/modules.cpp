// Libraries by name. The DLLs the program loads at run time that the layer provides itself
// answer from a table; anything else is a shared object on disk.

#include "platform/crt/paths.h"

#include <d3d9.h>
#include <dinput.h>
#include <windows.h>

#include <dlfcn.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <map>
#include <mutex>
#include <string>
#include <string_view>

namespace {

struct Export {
    const char* name;
    FARPROC function;
};

struct BuiltinLibrary {
    const char* name;  // lower case, with ".dll"
    const Export* exports;
    size_t exportCount;
};

// Every export leaves as the generic FARPROC type; the caller casts it back to its own type.
template <typename Function>
FARPROC AsExport(Function* function) {
    return reinterpret_cast<FARPROC>(reinterpret_cast<void (*)()>(function));
}

const Export kD3d9Exports[] = {
    {"Direct3DCreate9", AsExport(&Direct3DCreate9)},
};

const Export kDinput8Exports[] = {
    {"DirectInput8Create", AsExport(&DirectInput8Create)},
};

const BuiltinLibrary kBuiltins[] = {
    {"d3d9.dll", kD3d9Exports, std::size(kD3d9Exports)},
    {"dinput8.dll", kDinput8Exports, std::size(kDinput8Exports)},
};

// Windows takes a module name without a folder, in any case, with ".dll" implied when no
// extension is given.
std::string ModuleName(std::string_view path) {
    size_t slash = path.find_last_of("\\/");
    std::string name(slash == std::string_view::npos ? path : path.substr(slash + 1));
    std::transform(name.begin(), name.end(), name.begin(), [](unsigned char c) { return std::tolower(c); });
    if (name.find('.') == std::string::npos) name += ".dll";
    return name;
}

// A builtin's handle is the address of its table row; a loaded object's is dlopen's handle.
// Loaded objects are counted so that FreeLibrary can refuse handles it never gave.
std::mutex g_mutex;
std::map<void*, int> g_loaded;

const BuiltinLibrary* BuiltinOf(HMODULE module) {
    for (const BuiltinLibrary& library : kBuiltins) {
        if (reinterpret_cast<HMODULE>(const_cast<BuiltinLibrary*>(&library)) == module) return &library;
    }
    return nullptr;
}

}  // namespace

HMODULE WINAPI LoadLibraryA(LPCSTR fileName) {
    if (fileName == nullptr || *fileName == '\0') return nullptr;
    std::string name = ModuleName(fileName);
    for (const BuiltinLibrary& library : kBuiltins) {
        if (name == library.name) return reinterpret_cast<HMODULE>(const_cast<BuiltinLibrary*>(&library));
    }
    std::string path = rh::crt::DiskPath(fileName);
    void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) return nullptr;
    std::lock_guard<std::mutex> lock(g_mutex);
    ++g_loaded[handle];
    return reinterpret_cast<HMODULE>(handle);
}

FARPROC WINAPI GetProcAddress(HMODULE module, LPCSTR procName) {
    // Ordinals (values below 0x10000) name no export here.
    if (module == nullptr || procName == nullptr || IS_INTRESOURCE(procName)) return nullptr;
    if (const BuiltinLibrary* library = BuiltinOf(module)) {
        for (size_t i = 0; i < library->exportCount; ++i) {
            if (std::strcmp(library->exports[i].name, procName) == 0) return library->exports[i].function;
        }
        return nullptr;
    }
    {
        std::lock_guard<std::mutex> lock(g_mutex);
        if (g_loaded.find(module) == g_loaded.end()) return nullptr;
    }
    return reinterpret_cast<FARPROC>(dlsym(module, procName));
}

BOOL WINAPI FreeLibrary(HMODULE module) {
    if (BuiltinOf(module) != nullptr) return TRUE;
    std::lock_guard<std::mutex> lock(g_mutex);
    auto found = g_loaded.find(module);
    if (found == g_loaded.end()) return FALSE;
    if (--found->second == 0) g_loaded.erase(found);
    dlclose(module);
    return TRUE;
}
