// The PIN block and status-word mapping, spinpad.txt and the secure-PIN-entry
// library switch, without a card.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "engine_test_util.h"
#include "tarvik/engine/eid_engine.h"
#include "tarvik/engine/eid_pin.h"
#include "tarvik/engine/eid_spe_readers.h"
#include "trace_capture.h"

namespace {

using Block = std::array<unsigned char, 8>;

TEST(PinBlock, CarriesTheRealLengthAndPacksDigits) {
    EXPECT_EQ(eid_pin_block("1234"), (Block{0x24, 0x12, 0x34, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}));
    EXPECT_EQ(eid_pin_block("98765"), (Block{0x25, 0x98, 0x76, 0x5F, 0xFF, 0xFF, 0xFF, 0xFF}));
    EXPECT_EQ(eid_pin_block("012345678901"), (Block{0x2C, 0x01, 0x23, 0x45, 0x67, 0x89, 0x01, 0xFF}));
    for (const char* refused : {static_cast<const char*>(nullptr), "", "123", "1234567890123", "123a", "12:4", "1234\n"})
        EXPECT_FALSE(eid_pin_block(refused).has_value()) << (refused ? refused : "null");
}

TEST(PinStatus, EveryStatusWordMaps) {
    const std::vector<std::pair<uint16_t, int>> table{
        {0x9000, 0},    {0x63C5, 3008}, {0x63C4, 3009}, {0x63C3, 3010}, {0x63C2, 3011}, {0x63C1, 3012},
        {0x63C0, 3013}, {0x63C6, 3014}, {0x63CF, 3014}, {0x6983, 3015}, {0x6401, 3016}, {0x6982, 3017},
        {0x63B0, 3017}, {0x6300, 3017}, {0x9001, 3017}};
    for (const auto& [sw, result] : table) EXPECT_EQ(eid_pin_status_result(sw), result) << std::hex << sw;
}

struct Reader {
    int number;
    std::string name, lib;
};

std::vector<Reader> parse(const std::string& path) {
    S_SPINPAD_READER* list = nullptr;
    EXPECT_EQ(eidParseSPinpadIni(path.c_str(), &list), 0);
    std::vector<Reader> readers;
    for (const S_SPINPAD_READER* node = list; node != nullptr; node = node->next)
        readers.push_back({node->number, node->name, node->lib});
    eidFreeSPinpadList(list);
    return readers;
}

TEST(Spinpad, SectionsInOrderUntilTheFirstMissingOne) {
    TempDir dir;
    write_text(dir.file("spinpad.txt"),
               "# readers with a PIN pad\n"
               "[reader01]\nname=Pad B\nlib=libb.so\n"
               "[reader00]\nNAME=Pad A\nLib=liba.so\n"
               "[reader03]\nname=Pad D\nlib=libd.so\n");
    const auto readers = parse(dir.file("spinpad.txt"));
    ASSERT_EQ(readers.size(), 2u);
    EXPECT_EQ(readers[0].number, 0);
    EXPECT_EQ(readers[0].name, "Pad A");
    EXPECT_EQ(readers[0].lib, "liba.so");
    EXPECT_EQ(readers[1].number, 1);
    EXPECT_EQ(readers[1].name, "Pad B");
}

TEST(Spinpad, IncompleteSectionsAreSkippedEmptyOnesEndTheList) {
    TempDir dir;
    write_text(dir.file("spinpad.txt"),
               "[reader00]\nname=No Lib\n"
               "[reader01]\nname=Pad\\tB\nlib= libb.so\n"
               "[reader02]\nother=1\n"
               "[reader03]\nname=Pad D\nlib=libd.so\n");
    const auto readers = parse(dir.file("spinpad.txt"));
    ASSERT_EQ(readers.size(), 1u);
    EXPECT_EQ(readers[0].number, 1);
    EXPECT_EQ(readers[0].name, "Pad\tB");  // escapes resolved
    EXPECT_EQ(readers[0].lib, " libb.so");  // blanks after "=" belong to the value
}

TEST(Spinpad, ValueLongerThanItsBufferEndsTheList) {
    TempDir dir;
    write_text(dir.file("spinpad.txt"), "[reader00]\nname=Pad A\nlib=liba.so\n[reader01]\nname=" +
                                            std::string(EID_SPINPAD_VALUE_MAX, 'x') + "\nlib=libb.so\n");
    const auto readers = parse(dir.file("spinpad.txt"));
    ASSERT_EQ(readers.size(), 1u);
    EXPECT_EQ(readers[0].name, "Pad A");
}

TEST(Spinpad, ParserRefusesNullArgumentsAndAFilledList) {
    TraceCapture trace;
    S_SPINPAD_READER* list = nullptr;
    EXPECT_EQ(eidParseSPinpadIni(nullptr, &list), -1);
    EXPECT_EQ(eidParseSPinpadIni("spinpad.txt", nullptr), -1);
    S_SPINPAD_READER node{0, nullptr, nullptr, nullptr};
    list = &node;
    EXPECT_EQ(eidParseSPinpadIni("spinpad.txt", &list), -1);
    EXPECT_NE(trace.take().find("ERROR in eidParseSPinpadIni(), const char * ini_filename is NULL"), std::string::npos);
}

TEST(Spinpad, ReaderNameMustContainAListedName) {
    TempDir dir;
    write_text(dir.file("spinpad.txt"), "[reader00]\nname=PIN Pad\nlib=libspetest.so\n");
    const std::string data_dir = dir.path().string();
    int supported = 0;
    EXPECT_EQ(eidIsSupportedSPEReaderIn(data_dir.c_str(), "Kit PIN Pad 00 00", &supported), 0);
    EXPECT_EQ(supported, 1);
    supported = 0;
    EXPECT_EQ(eidIsSupportedSPEReaderIn(data_dir.c_str(), "Kit pin pad 00 00", &supported), 0);
    EXPECT_EQ(supported, 0);
    supported = 7;
    EXPECT_EQ(eidIsSupportedSPEReaderIn(data_dir.c_str(), "Other", &supported), 0);
    EXPECT_EQ(supported, 7);
}

TEST(Spinpad, FoundInTheStoredDataDirectory) {
    TempDir dir;
    write_text(dir.file("spinpad.txt"), "[reader00]\nname=PIN Pad\nlib=libspetest.so\n");
    ASSERT_EQ(eidInit(nullptr, dir.path().c_str()), 0);
    int supported = 0;
    EXPECT_EQ(eidIsSupportedSPEReader("Kit PIN Pad 00 00", &supported), 0);
    EXPECT_EQ(supported, 1);
}

TEST(Spinpad, NoFileOrAnOverlongPathLeavesTheAnswerAlone) {
    TempDir dir;
    TraceCapture trace;
    int supported = 5;
    EXPECT_EQ(eidIsSupportedSPEReaderIn(dir.path().c_str(), "Kit PIN Pad", &supported), -1);
    EXPECT_NE(trace.take().find("S_SPINPAD_READER * spinpad_reader is NULL"), std::string::npos);
    const std::string long_dir(EID_SPINPAD_PATH_MAX, 'd');
    EXPECT_EQ(eidIsSupportedSPEReaderIn(long_dir.c_str(), "Kit PIN Pad", &supported), -1);
    EXPECT_EQ(eidIsSupportedSPEReaderIn(nullptr, "Kit PIN Pad", &supported), -1);
    EXPECT_EQ(supported, 5);
}

TEST(SpeLibrary, OnlyACompleteInitialisedLibrarySwitchesTheModeOn) {
    EXPECT_EQ(eidSetSPELibrary("Kit PIN Pad", "Pad", "libnot-there.so"), -1);
    EXPECT_EQ(eid_spe_mode(), 0);
    const std::string too_long(EID_SPE_READER_NAME_SIZE, 'n');
    EXPECT_EQ(eidSetSPELibrary("Kit PIN Pad", too_long.c_str(), "libspetest.so"), -1);
    EXPECT_EQ(eidSetSPELibrary("Kit PIN Pad", nullptr, "libspetest.so"), -1);
    EXPECT_EQ(eid_spe_mode(), 0);

    ASSERT_EQ(eidSetSPELibrary("Kit PIN Pad", "Pad", "libspetest.so"), 0);
    EXPECT_EQ(eid_spe_mode(), 1);
    EXPECT_STREQ(eid_spe_reader_name(), "Pad");
    // Start-up empties the name but leaves the mode.
    ASSERT_EQ(eidInit(nullptr, nullptr), 0);
    EXPECT_STREQ(eid_spe_reader_name(), "");
    EXPECT_EQ(eid_spe_mode(), 1);

    // A refused list request still switches the mode off.
    EXPECT_EQ(eidGetXMLSuportedSPEReaders(nullptr), -1);
    EXPECT_EQ(eid_spe_mode(), 0);
}

}  // namespace
