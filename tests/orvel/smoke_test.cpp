#include "orvel.h"

#include <gtest/gtest.h>

TEST(OrvelSmoke, FreshStateDefaults) {
    EXPECT_EQ(__gettracelevel(), 8u);
    EXPECT_EQ(__gettraceopts(), 0xFFu);
    EXPECT_EQ(__gettracefd(), -1);
}
