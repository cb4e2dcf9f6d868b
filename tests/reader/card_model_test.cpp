// The virtual card's own behaviour, which the rig tests rely on.
#include <gtest/gtest.h>

#include "tools/vcard/profiles.h"

using vcard::Bytes;

namespace {

Bytes run(vcard::Card& card, const Bytes& apdu) { return card.process(apdu); }
uint16_t sw_of(const Bytes& reply) { return static_cast<uint16_t>(reply[reply.size() - 2] << 8 | reply.back()); }

}  // namespace

TEST(VirtualCardModel, SelectWalksTheTree) {
    auto card = vcard::make_profile("eid");
    ASSERT_TRUE(card);
    EXPECT_EQ(sw_of(run(*card, {0x00, 0xA4, 0x02, 0x0C, 0x02, 0x40, 0x31})), 0x6A82);  // not under 3F00
    EXPECT_EQ(sw_of(run(*card, {0x00, 0xA4, 0x02, 0x0C, 0x02, 0xDF, 0x01})), 0x9000);
    EXPECT_EQ(sw_of(run(*card, {0x00, 0xA4, 0x02, 0x0C, 0x02, 0x40, 0x31})), 0x9000);
    EXPECT_EQ(sw_of(run(*card, {0x00, 0xA4, 0x02, 0x0C, 0x02, 0x40, 0x33})), 0x9000);  // sibling EF
    EXPECT_EQ(sw_of(run(*card, {0x00, 0xA4, 0x02, 0x0C, 0x02, 0xDF, 0x00})), 0x9000);  // sibling DF
    EXPECT_EQ(sw_of(run(*card, {0x00, 0xA4, 0x02, 0x0C, 0x02, 0x50, 0x31})), 0x9000);
    EXPECT_EQ(sw_of(run(*card, {0x00, 0xA4, 0x04, 0x0C, 0x02, 0x50, 0x31})), 0x6B00);
}

TEST(VirtualCardModel, ReadBinaryEndOfFile) {
    auto card = vcard::make_profile("eid");
    ASSERT_TRUE(card);
    EXPECT_EQ(sw_of(run(*card, {0x00, 0xB0, 0x00, 0x00, 0x10})), 0x6986);  // no file selected
    run(*card, {0x00, 0xA4, 0x02, 0x0C, 0x02, 0xDF, 0x01});
    run(*card, {0x00, 0xA4, 0x02, 0x0C, 0x02, 0x40, 0x31});  // 300 bytes
    const Bytes expected = vcard::default_file_content(0x4031, 300);
    Bytes reply = run(*card, {0x00, 0xB0, 0x01, 0x00, 0x10});
    ASSERT_EQ(reply.size(), 18u);
    EXPECT_EQ(Bytes(reply.begin(), reply.end() - 2), Bytes(expected.begin() + 256, expected.begin() + 272));
    EXPECT_EQ(sw_of(run(*card, {0x00, 0xB0, 0x01, 0x00, 0x80})), 0x6C2C);  // 44 left
    EXPECT_EQ(sw_of(run(*card, {0x00, 0xB0, 0x01, 0x2C, 0x01})), 0x6B00);  // at the end
    EXPECT_EQ(run(*card, {0x00, 0xB0, 0x00, 0x00, 0x00}).size(), 258u);  // Le 0 = 256
}

TEST(VirtualCardModel, MemoryImageAndStatusRules) {
    auto card = vcard::make_profile("sle4418");
    ASSERT_TRUE(card);
    Bytes reply = run(*card, {0xFF, 0xB0, 0x03, 0xFE, 0x02});
    ASSERT_EQ(reply.size(), 4u);
    EXPECT_EQ(reply[0], vcard::default_memory_byte(0x3FE));
    EXPECT_EQ(reply[1], vcard::default_memory_byte(0x3FF));
    EXPECT_EQ(sw_of(run(*card, {0xFF, 0xB0, 0x03, 0xFF, 0x02})), 0x6B00);  // past the image
    EXPECT_EQ(sw_of(run(*card, {0x00, 0xB0, 0x00, 0x00, 0x02})), 0x6E00);

    card->add_status_rule({{0xFF, 0xB0}, 0x6581, 1, {}});
    EXPECT_EQ(run(*card, {0xFF, 0xB0, 0x00, 0x00, 0x01}), (Bytes{0x65, 0x81}));
    EXPECT_EQ(sw_of(run(*card, {0xFF, 0xB0, 0x00, 0x00, 0x01})), 0x9000);  // used up
}
