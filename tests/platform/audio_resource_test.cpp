// The audio library as the program carries it: resource 123 of type "BASS" is the library
// the build made, and the library exports its seven functions and nothing else of its own.

#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <set>
#include <sstream>
#include <string>

namespace {

TEST(AudioResource, IsTheBuiltLibrary) {
    HRSRC resource = FindResourceA(nullptr, MAKEINTRESOURCEA(123), "BASS");
    ASSERT_NE(resource, nullptr);
    const DWORD size = SizeofResource(nullptr, resource);
    const char* bytes = static_cast<const char*>(LockResource(LoadResource(nullptr, resource)));
    std::ifstream in(RH_SOUND_LIBRARY, std::ios::binary);
    std::ostringstream built;
    built << in.rdbuf();
    ASSERT_FALSE(built.str().empty());
    EXPECT_EQ(std::string(bytes, size), built.str());
}

TEST(AudioResource, ExportsExactlyTheSevenFunctions) {
    FILE* pipe = popen("nm -D --defined-only " RH_SOUND_LIBRARY, "r");
    ASSERT_NE(pipe, nullptr);
    std::set<std::string> functions;
    char line[512];
    while (std::fgets(line, sizeof line, pipe) != nullptr) {
        char kind = 0;
        char name[400];
        if (std::sscanf(line, "%*s %c %399s", &kind, name) == 2 && (kind == 'T' || kind == 'W')) {
            functions.insert(name);
        }
    }
    ASSERT_EQ(pclose(pipe), 0);
    const std::set<std::string> expected = {"BASS_Init",       "BASS_Set3DFactors",     "BASS_Apply3D",
                                            "BASS_SetConfig",  "BASS_SampleLoad",       "BASS_SampleGetChannel",
                                            "BASS_ChannelPlay"};
    EXPECT_EQ(functions, expected);
}

}  // namespace
