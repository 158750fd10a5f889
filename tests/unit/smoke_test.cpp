#include "platform/FileUtil.h"
#include <gtest/gtest.h>
TEST(Smoke, TempDirHasNoTrailingBackslash) {
    std::string t = TempDir();
    ASSERT_FALSE(t.empty());
    EXPECT_NE(t.back(), '\\');
}
