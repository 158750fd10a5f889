// Command-line switches: whole arguments only, any letter case, and the argument
// that follows a switch.
#include "run/CommandLine.h"
#include "run/RunContext.h"

#include <gtest/gtest.h>

TEST(FindSwitch, WholeArgumentsIgnoringCase) {
    RunContext ctx;
    ctx.Args = {"/l", "/Sx", "C:\\a /S b", "/S"};
    EXPECT_EQ(FindSwitch(ctx, "/L"), 1);
    EXPECT_EQ(FindSwitch(ctx, "/S"), 4); // not inside a longer argument
    EXPECT_EQ(FindSwitch(ctx, "/N"), 0);
    ctx.Args = {"/s"};
    EXPECT_EQ(FindSwitch(ctx, "/S"), 1);
}

TEST(FindSwitch, ArgumentAfterASwitch) {
    RunContext ctx;
    ctx.Args = {"/D", "C:\\Program Files\\X", "/P"};
    EXPECT_EQ(ArgumentAfter(ctx, FindSwitch(ctx, "/D")), "C:\\Program Files\\X");
    // "/P" as the last argument: the folder is empty.
    EXPECT_EQ(ArgumentAfter(ctx, FindSwitch(ctx, "/P")), "");
    EXPECT_EQ(ArgumentAfter(ctx, 0), "");
}
