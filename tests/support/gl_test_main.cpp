// main() of the suites that need a display: each process gets its own Xvfb before any test runs.
#include "support/xvfb.h"

#include <gtest/gtest.h>

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    if (!PrepareGlTestEnvironment()) return 1;
    return RUN_ALL_TESTS();
}
