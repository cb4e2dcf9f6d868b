#include <gtest/gtest.h>

#include <cstring>

#include "tarvik/reader/spe_records.h"

TEST(SpeRecords, BytesAreZeroTerminatedCopies) {
    S_SPE_BYTES bytes{};
    const unsigned char id[] = "00000001";
    ASSERT_EQ(init_S_SPE_BYTES(&bytes, id, 8), 0);
    EXPECT_EQ(bytes.length, 8u);
    EXPECT_EQ(std::memcmp(bytes.data, id, 8), 0);
    EXPECT_EQ(bytes.data[8], 0);
    EXPECT_EQ(free_S_SPE_BYTES(&bytes), 0);
    EXPECT_EQ(bytes.data, nullptr);
    EXPECT_EQ(bytes.length, 0u);

    ASSERT_EQ(init_S_SPE_BYTES(&bytes, nullptr, 0), 0);
    EXPECT_EQ(bytes.data[0], 0);
    free_S_SPE_BYTES(&bytes);
}

TEST(SpeRecords, CardKeepsTwoLanguageLetters) {
    S_SPE_CARD card{};
    const unsigned char id[] = "00000000";
    ASSERT_EQ(init_S_SPE_CARD(&card, 77, "english", id, 8, 0), 0);
    EXPECT_STREQ(card.language, "en");
    EXPECT_EQ(card.card_handle, 77u);
    EXPECT_EQ(card.id.length, 8u);
    free_S_SPE_CARD(&card);
    EXPECT_EQ(card.card_handle, 0u);
    EXPECT_EQ(card.language, nullptr);
    EXPECT_EQ(card.id.data, nullptr);
}

TEST(SpeRecords, ApplicationAndUsageCopyTheirTexts) {
    S_SPE_APPLICATION application{};
    const unsigned char id[] = "00000001";
    ASSERT_EQ(init_S_SPE_APPLICATION(&application, id, 8, "CA", "eID Card Applet"), 0);
    EXPECT_STREQ(application.short_name, "CA");
    EXPECT_STREQ(application.long_name, "eID Card Applet");
    free_S_SPE_APPLICATION(&application);
    EXPECT_EQ(application.long_name, nullptr);

    S_SPE_PIN_USAGE usage{};
    ASSERT_EQ(init_S_SPE_PIN_USAGE(&usage, 131, "SIGN", "Signature"), 0);
    EXPECT_EQ(usage.code, 131);
    EXPECT_STREQ(usage.long_name, "Signature");
    free_S_SPE_PIN_USAGE(&usage);
    EXPECT_EQ(usage.code, 0);
}

TEST(SpeRecords, NullInputIsRefusedAndLeavesTheRecord) {
    S_SPE_BYTES bytes{};
    S_SPE_CARD card{};
    S_SPE_APPLICATION application{};
    S_SPE_PIN_USAGE usage{};
    const unsigned char id[] = "0";
    EXPECT_EQ(init_S_SPE_BYTES(nullptr, id, 1), -1);
    EXPECT_EQ(init_S_SPE_BYTES(&bytes, nullptr, 4), -1);
    EXPECT_EQ(init_S_SPE_CARD(nullptr, 1, "en", id, 1, 0), -1);
    EXPECT_EQ(init_S_SPE_CARD(&card, 1, nullptr, id, 1, 0), -1);
    EXPECT_EQ(init_S_SPE_CARD(&card, 1, "en", nullptr, 3, 0), -1);
    EXPECT_EQ(init_S_SPE_APPLICATION(&application, id, 1, nullptr, "x"), -1);
    EXPECT_EQ(init_S_SPE_APPLICATION(&application, id, 1, "x", nullptr), -1);
    EXPECT_EQ(init_S_SPE_PIN_USAGE(&usage, 130, "AUTH", nullptr), -1);
    EXPECT_EQ(bytes.data, nullptr);
    EXPECT_EQ(card.language, nullptr);
    EXPECT_EQ(application.short_name, nullptr);
    EXPECT_EQ(usage.short_name, nullptr);
    EXPECT_EQ(free_S_SPE_CARD(nullptr), -1);
}
