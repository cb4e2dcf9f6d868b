// Texts for Java strings: UTF-8 when well formed, else code page 1252; SIS
// texts from code page 850.
#include <gtest/gtest.h>

#include "platform/oem_text.h"
#include "selvane/java_text.h"
#include "tests/fresh_process.h"
#include "tests/test_locales.h"

using selvane::java::from_oem;
using selvane::java::from_utf8_or_ansi;

TEST(JavaText, WellFormedUtf8IsDecodedWithSurrogatePairs) {
    EXPECT_EQ(u"Jos\u00e9 \u20ac \U0001F600", from_utf8_or_ansi("Jos\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80"));
    EXPECT_EQ(u"", from_utf8_or_ansi(""));
}

TEST(JavaText, MalformedUtf8IsTakenAsCodePage1252) {
    EXPECT_EQ(u"Jos\u00e9", from_utf8_or_ansi("Jos\xE9"));             // a lone 1252 byte
    EXPECT_EQ(u"\u00c0\u00af", from_utf8_or_ansi("\xC0\xAF"));         // overlong "/"
    EXPECT_EQ(u"a\u00e2\u201a", from_utf8_or_ansi("a\xE2\x82"));       // cut at the end
    EXPECT_EQ(u"\u00ed\u00a0\u20ac", from_utf8_or_ansi("\xED\xA0\x80")); // a surrogate
    EXPECT_EQ(u"\u0081\u20ac", from_utf8_or_ansi("\x81\x80"));         // undefined 1252 byte kept
}

TEST(JavaText, OemTextGoesThroughCodePage1252) {
    EXPECT_EQ("Caf\xE9\xA3", kit::platform::oem_to_ansi("Caf\x82\x9C"));
    EXPECT_EQ(u"Caf\u00e9\u00a3 \u00c7", from_oem("Caf\x82\x9C \x80"));
    // Box drawing has no 1252 form: something printable stands in.
    const std::string box = kit::platform::oem_to_ansi("\xC9");
    ASSERT_EQ(1u, box.size());
    EXPECT_NE('\0', box[0]);
}

// The conversion tables are made at the first call, under whatever locale
// the host has set by then: no locale may change them.
TEST(JavaText, OemTextIsTheSameUnderEveryLocale) {
    for (const char* name : {"C", "C.UTF-8", kit::test::kLatin1Locale}) {
        SCOPED_TRACE(name);
        kit::test::in_fresh_process([name] {
            const kit::test::ProcessLocale locale(name);
            ASSERT_TRUE(locale.ok());
            EXPECT_EQ("i", kit::platform::oem_to_ansi("\xD5"));  // the dotless i
            EXPECT_EQ(u"Caf\u00e9\u00a3 \u00c7", from_oem("Caf\x82\x9C \x80"));
        });
    }
}
