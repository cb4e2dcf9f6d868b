// The Portuguese read when the middleware lacks an entry point: later calls
// answer -1 and call nothing (the stand-in's other functions would answer).
#include <gtest/gtest.h>

#include "tarvik.h"
#include "tests/fresh_process.h"

TEST(PortugueseReadUnbound, AnswersMinusOneOnEveryLaterCall) {
    kit::test::in_fresh_process([] {
        char identity[PLAIN_PT_TEXT_SIZE] = "old";
        char address[PLAIN_PT_TEXT_SIZE] = "old";
        unsigned char photo[PLAIN_PT_PHOTO_SIZE] = {};
        int photo_len = -7;
        EXPECT_EQ(readPtEidPubDataIdentify(0, 0, 0, 1, 1, identity, address, photo, &photo_len), -3);
        EXPECT_EQ(readPtEidPubDataIdentify(0, 0, 0, 1, 1, identity, address, photo, &photo_len), -1);
        EXPECT_EQ(readPtEidPubDataIdentify(0, 0, 0, 0, 0, identity, address, photo, &photo_len), -1);
        EXPECT_STREQ(identity, "old");
        EXPECT_EQ(photo_len, -7);
    });
}
