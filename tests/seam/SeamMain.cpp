// The suite's entry; started with --linger the program only waits a minute,
// the program the process cases start and end (SeamMachine.h).
#include <gtest/gtest.h>

#include <cstring>

#include "platform/Platform.h"

int main(int argc, char** argv) {
    if (argc == 3 && std::strcmp(argv[1], "--linger") == 0) {
        platform::Os().Process().Sleep(60000);
        return 0;
    }
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
