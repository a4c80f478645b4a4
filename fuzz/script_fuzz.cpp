// Arbitrary bytes as a free-form script (font, charset and texture descriptions).
#include "core/script/script_parser.h"
#include "fuzz/script_fuzz_common.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    return script_fuzz::RunOne(
        ParseScript,
        "Name = \"Sylfaen\"; Styles[0].Size = 64; a = array(1, object(b = 2)); using s; x;",
        data, size);
}
