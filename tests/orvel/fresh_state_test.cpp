// Start values, seen by a process that has changed nothing yet.
#include "orvel.h"

#include <gtest/gtest.h>

TEST(FreshState, StartValues) {
    EXPECT_EQ(__gettracelevel(), 8u);
    EXPECT_EQ(__gettraceopts(), 0xFFu);
    EXPECT_EQ(__gettracefd(), -1);
    EXPECT_EQ(__get_call_depth(), -1);
    EXPECT_EQ(__istraced(9), 0);
    EXPECT_EQ(__istraced(8), 1);
}
