#include <gtest/gtest.h>

#include "common/TestSandbox.h"

// Stands until the library's own tests exist.
TEST(UpdateSmoke, SandboxPointsHomeAway) {
    tintavo::test::TestSandbox sandbox;
    EXPECT_EQ(std::string(std::getenv("HOME")), sandbox.home().string());
}
