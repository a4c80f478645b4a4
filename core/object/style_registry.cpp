#include "core/object/style_registry.h"

StyleRegistry g_styleRegistry;

StyleRegistry::~StyleRegistry() { styles_.DeleteAll(); }

PropertyNode* StyleRegistry::GetOrCreateStyle(const String& name) {
    PropertyNode* style = styles_.ValueRef(name);
    if (style == nullptr) {
        style = new PropertyNode;
        styles_.Insert(name, style, 1);
    }
    return style;
}
