// Module resources: FindResourceA, LoadResource, LockResource and SizeofResource over the
// table the build links into this test (data/test_resources.rc).

#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

std::string ResourceText(HRSRC r) {
    HGLOBAL g = LoadResource(nullptr, r);
    const char* p = static_cast<const char*>(LockResource(g));
    return std::string(p, SizeofResource(nullptr, r));
}

TEST(Resources, FoundByIntegerOrTextNameAndType) {
    struct Case {
        const char* what;
        LPCSTR name;
        LPCSTR type;
    };
    const Case cases[] = {
        {"integer id, named type", MAKEINTRESOURCEA(1), "MemFile"},
        {"type names ignore case", MAKEINTRESOURCEA(1), "MEMFILE"},
        {"\"#1\" names the integer 1", "#1", "memfile"},
        {"standard integer type", MAKEINTRESOURCEA(7), RT_RCDATA},
        {"named resource of a quoted type", "splash", "Custom Type"},
    };
    for (const Case& c : cases) {
        HRSRC r = FindResourceA(nullptr, c.name, c.type);
        ASSERT_NE(r, nullptr) << c.what;
        EXPECT_EQ(ResourceText(r), "Hello, resources.\n") << c.what;
    }
}

TEST(Resources, AbsentResourcesAnswerNull) {
    struct Case {
        const char* what;
        LPCSTR name;
        LPCSTR type;
    };
    const Case cases[] = {
        {"unknown id", MAKEINTRESOURCEA(2), "MemFile"},
        {"right id, wrong type", MAKEINTRESOURCEA(1), RT_RCDATA},
        {"integer type does not match a named one", MAKEINTRESOURCEA(7), "RCDATA"},
        {"text name does not match an id", "1", "MemFile"},
        {"malformed #-name", "#1x", "MemFile"},
        {"empty #-name", "#", "MemFile"},
        {"#-name out of range", "#65537", "MemFile"},
        {"null name", nullptr, "MemFile"},
        {"null type", MAKEINTRESOURCEA(1), nullptr},
    };
    for (const Case& c : cases) EXPECT_EQ(FindResourceA(nullptr, c.name, c.type), nullptr) << c.what;
    EXPECT_EQ(LoadResource(nullptr, nullptr), nullptr);
    EXPECT_EQ(SizeofResource(nullptr, nullptr), 0u);
}

TEST(Resources, ModuleHandleOfTheExecutableFindsItsResources) {
    HMODULE self = GetModuleHandleA(nullptr);
    ASSERT_NE(self, nullptr);
    EXPECT_EQ(GetModuleHandleA(nullptr), self);
    EXPECT_NE(FindResourceA(self, MAKEINTRESOURCEA(1), "MemFile"), nullptr);
    EXPECT_EQ(GetModuleHandleA("d3d9.dll"), nullptr);
    EXPECT_EQ(FindResourceA(reinterpret_cast<HMODULE>(&self), MAKEINTRESOURCEA(1), "MemFile"), nullptr);
}

TEST(Resources, EmptyFileGivesAnEmptyResourceThatStillLocks) {
    HRSRC r = FindResourceA(nullptr, MAKEINTRESOURCEA(239), "MemFile");
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(SizeofResource(nullptr, r), 0u);
    EXPECT_NE(LockResource(LoadResource(nullptr, r)), nullptr);
}

TEST(Resources, LockedBytesStayTheSameForTheWholeRun) {
    HRSRC r = FindResourceA(nullptr, MAKEINTRESOURCEA(1), "MemFile");
    const void* first = LockResource(LoadResource(nullptr, r));
    const void* second = LockResource(LoadResource(nullptr, FindResourceA(nullptr, "#1", "MemFile")));
    EXPECT_EQ(first, second);
}

}  // namespace
