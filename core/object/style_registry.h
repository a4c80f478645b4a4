// Named styles: property nodes that GUI layouts refer to by name. One process-wide registry,
// g_styleRegistry, lives for the whole run; styles are made on first request and never removed.
#pragma once

#include "core/containers/ordered_map.h"
#include "core/object/property_node.h"
#include "core/text/string.h"

#include <cstdint>

class StyleRegistry {
public:
    StyleRegistry() = default;
    StyleRegistry(const StyleRegistry&) = delete;
    StyleRegistry& operator=(const StyleRegistry&) = delete;
    // Deletes every style: whatever still points at one must not use it afterwards.
    ~StyleRegistry();

    // The style of that name (names compare with regard to case), made empty on first request.
    // The registry owns it.
    PropertyNode* GetOrCreateStyle(const String& name);

    int32_t count() const { return styles_.count(); }

private:
    OrderedMap<String, PropertyNode*, StringCompare> styles_;
};

// Constructed before main and destroyed at exit.
extern StyleRegistry g_styleRegistry;
