// The table of module resources that the build links into each executable. The resource
// compiler (tools/rescomp) generates one table per executable; it registers itself during
// static initialisation, before anything can look a resource up.
#pragma once

#include <cstddef>
#include <cstdint>

namespace rh::win32 {

struct ResourceEntry {
    const char* typeName;  // upper-case name of a named type, or null for an integer type
    uint16_t typeId;       // the integer type when typeName is null
    const char* name;      // upper-case name of a named resource, or null for an integer id
    uint16_t id;           // the integer id when name is null
    const unsigned char* data;
    const uint64_t* size;  // the assembler computes sizes, so the table reads them from there
};

struct ResourceTableRegistration {
    ResourceTableRegistration(const ResourceEntry* entries, size_t count);
};

}  // namespace rh::win32
