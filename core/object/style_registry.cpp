#include "core/object/style_registry.h"
#include "core/init_order.h"

StyleRegistry g_styleRegistry RH_INIT_ORDER(RH_INIT_STYLE_REGISTRY);

StyleRegistry::~StyleRegistry() { styles_.DeleteAll(); }

PropertyNode* StyleRegistry::GetOrCreateStyle(const String& name) {
    PropertyNode* style = styles_.ValueRef(name);
    if (style == nullptr) {
        style = new PropertyNode;
        styles_.Insert(name, style, 1);
    }
    return style;
}
