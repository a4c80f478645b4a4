#include "core/object/type_id.h"

#include <rimeholt/log.h>

#include <cassert>
#include <cstdlib>

namespace {

// Constant-initialised, so ids may be asked for while other globals are being constructed.
constinit int32_t nextTypeId = 1;
constinit DestroyRoutine destroyRoutines[TypeRegistry::kMaxTypeIds] = {};

}  // namespace

void DestroyPlainValue(void*) {}

int32_t TypeRegistry::Register(DestroyRoutine routine) {
    const int32_t id = nextTypeId;
    if (id >= kMaxTypeIds) {
        rh::LogError("TypeRegistry: more than %d type ids", kMaxTypeIds - 1);
        std::abort();
    }
    ++nextTypeId;
    destroyRoutines[id] = routine;
    return id;
}

void TypeRegistry::DestroyValue(int32_t id, void* value) {
    assert(id > 0 && id < nextTypeId && destroyRoutines[id] != nullptr);
    destroyRoutines[id](value);
}

int32_t TypeRegistry::NextTypeId() { return nextTypeId; }
