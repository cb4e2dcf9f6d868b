#include "tarvik/engine/crypto/eid_crypto.h"

#include "engine_test_util.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>

namespace {

// FIPS 180 examples.
TEST(Sha1, KnownAnswers) {
    int length = 0;
    unsigned char* d = sha1_digest(reinterpret_cast<const unsigned char*>("abc"), 3, &length);
    ASSERT_NE(d, nullptr);
    EXPECT_EQ(length, 20);
    EXPECT_EQ(hex_bytes(d, 20, false), "a9993e364706816aba3e25717850c26c9cd0d89d");
    std::free(d);

    Data in(std::string("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq")), out;
    ASSERT_EQ(eidSha1(&in, &out), 0);
    EXPECT_EQ(hex_bytes(out.d.dta, out.d.dta_len, false), "84983e441c3bd26ebaae4aa1f95129e5e54670f1");
    // A second digest into the same record replaces the first.
    Data abc(std::string("abc"));
    ASSERT_EQ(eidSha1(&abc, &out), 0);
    EXPECT_EQ(hex_bytes(out.d.dta, out.d.dta_len, false), "a9993e364706816aba3e25717850c26c9cd0d89d");

    EXPECT_EQ(sha1_digest(reinterpret_cast<const unsigned char*>("abc"), 0, &length), nullptr);
    Data empty;
    EXPECT_EQ(eidSha1(&empty, &out), -1);
}

// RFC 4648 section 10.
TEST(Base64, EncodesTheRfcVectors) {
    const std::pair<const char*, const char*> vectors[] = {{"f", "Zg=="},         {"fo", "Zm8="},
                                                           {"foo", "Zm9v"},       {"foob", "Zm9vYg=="},
                                                           {"fooba", "Zm9vYmE="}, {"foobar", "Zm9vYmFy"}};
    for (const auto& [plain, encoded] : vectors) {
        char text[16];
        int length = -1;
        ASSERT_EQ(dataToBase64(reinterpret_cast<const unsigned char*>(plain), static_cast<uint32_t>(std::strlen(plain)),
                               text, &length),
                  0);
        EXPECT_STREQ(text, encoded);
        EXPECT_EQ(length, static_cast<int>(std::strlen(encoded)));
    }
    char text[8];
    int length = 5;
    EXPECT_EQ(dataToBase64(reinterpret_cast<const unsigned char*>("x"), 0, text, &length), -1);
    EXPECT_EQ(length, 0);
    EXPECT_EQ(dataToBase64(nullptr, 3, text, &length), -1);
    // 4 characters and the terminator do not fit in 4 bytes.
    EXPECT_EQ(dataToBase64(reinterpret_cast<const unsigned char*>("foo"), 3, text, &length, 4), -1);
}

TEST(Base64, DecodingCountsPaddingAndRefusesMalformedText) {
    unsigned char bytes[16];
    int count = -1;
    ASSERT_EQ(base64ToData("Zm9vYmFy", 8, bytes, &count), 0);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(bytes), 6), "foobar");
    EXPECT_EQ(count, 6);
    // Padding decodes as zero bytes that the count includes.
    ASSERT_EQ(base64ToData("Zm9vYg==", 8, bytes, &count), 0);
    EXPECT_EQ(count, 6);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(bytes), 6), std::string("foob\0\0", 6));
    ASSERT_EQ(base64ToData(" Zm9v\r\n", 7, bytes, &count), 0);
    EXPECT_EQ(count, 3);

    EXPECT_EQ(base64ToData("Zm9vYg=", 7, bytes, &count), -1);
    EXPECT_EQ(count, 0);
    EXPECT_EQ(base64ToData("Zm9*", 4, bytes, &count), -1);
    EXPECT_EQ(base64ToData("Zm9v", 0, bytes, &count), -1);
    EXPECT_EQ(base64ToData(nullptr, 4, bytes, &count), -1);
    EXPECT_EQ(base64ToData("Zm9vYmFy", 8, bytes, &count, 5), -1);
    EXPECT_EQ(count, 0);
}

TEST(ByteHelpers, TruncateDropsTrailingZerosAndConcatJoins) {
    Data in(Bytes{0x41, 0x00, 0x42, 0x00, 0x00}), out;
    ASSERT_EQ(eidTruncate(&in, &out), 0);
    EXPECT_EQ(out.bytes(), (Bytes{0x41, 0x00, 0x42}));
    EXPECT_EQ(out.d.dta[3], 0);

    Data zeros(Bytes(4, 0)), none;
    ASSERT_EQ(eidTruncate(&zeros, &none), 0);
    EXPECT_EQ(none.d.dta, nullptr);
    EXPECT_EQ(none.d.dta_len, 0u);
    EXPECT_EQ(eidTruncate(&in, nullptr), -1);

    Data a(std::string("ab")), b(Bytes{0x00, 0x63}), joined;
    ASSERT_EQ(eidConcat(&a, &b, &joined), 0);
    EXPECT_EQ(joined.bytes(), (Bytes{'a', 'b', 0x00, 0x63}));
    Data empty;
    EXPECT_EQ(eidConcat(&a, &empty, &joined), -1);
}

}  // namespace
