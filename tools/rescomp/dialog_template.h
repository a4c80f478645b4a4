// Dialog templates in the binary layout Windows keeps in RT_DIALOG resources (DLGTEMPLATE
// followed by DLGITEMTEMPLATE records), which the layer's dialog engine reads back.
#pragma once

#include "tools/rescomp/rc_parser.h"

#include <cstdint>
#include <vector>

namespace rh::rescomp {

std::vector<uint8_t> BuildDialogTemplate(const DialogDefinition& dialog);

}  // namespace rh::rescomp
