#include <gtest/gtest.h>

#include <cstdlib>

int main(int argc, char** argv) {
    // No test plays to a real sound device (the variable as ctest's environment would give it).
    setenv("SDL_AUDIODRIVER", "dummy", 0);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
