// Arbitrary bytes as a line-dialect script (settings, message texts).
#include "core/script/line_script.h"
#include "fuzz/script_fuzz_common.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    return script_fuzz::RunOne(
        ParseLineScript,
        "Name = Sylfaen\nStyles[0].Size = 64\na = array(1, object(b = 2))\nusing s\nx\n", data,
        size);
}
