#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "platform/dynamic_library.h"
#include "platform/process_probe.h"
#include "tarvik/reader/pcsc_result.h"
#include "tests/rig/rig_support.h"

using kit::platform::library_file_name;

TEST(LibraryFileName, MapsWindowsNamesOnly) {
    EXPECT_EQ(library_file_name("scardsyn.dll"), "libscardsyn.so");
    EXPECT_EQ(library_file_name("EKRYPTOBEID.DLL"), "libekryptobeid.so");
    EXPECT_EQ(library_file_name("Kelpra001.Dll"), "libkelpra001.so");
    EXPECT_EQ(library_file_name("/opt/x/pinpad.dll"), "/opt/x/pinpad.dll");
    EXPECT_EQ(library_file_name("libspetest.so"), "libspetest.so");
    EXPECT_EQ(library_file_name(".dll"), "lib.so");
    EXPECT_EQ(library_file_name("dll"), "dll");
}

TEST(DynamicLibrary, MissingLibraryAndSymbolAreTraced) {
    kit::rig::TraceCapture trace;
    kit::platform::DynamicLibrary missing("kit-no-such-library.dll", "probe");
    EXPECT_FALSE(missing.loaded());
    EXPECT_EQ(missing.symbol("anything"), nullptr);
    kit::platform::DynamicLibrary libc("libc.so.6", "probe");
    ASSERT_TRUE(libc.loaded());
    EXPECT_NE(libc.symbol("strlen"), nullptr);
    EXPECT_EQ(libc.symbol("kit_no_such_symbol"), nullptr);
    const std::string text = trace.text();
    EXPECT_NE(text.find("libkit-no-such-library.so"), std::string::npos) << text;
    EXPECT_NE(text.find("kit_no_such_symbol"), std::string::npos) << text;
}

TEST(ProcessProbe, MatchesCommOfNumericEntries) {
    const std::filesystem::path root = kit::rig::scratch_dir() + "/proc";
    auto process = [&](const std::string& dir, const std::string& comm) {
        std::filesystem::create_directories(root / dir);
        std::ofstream(root / dir / "comm") << comm << "\n";
    };
    process("12", "pcscd");
    process("self", "impostor");
    process("40", "averyveryverylo");  // comm keeps 15 characters
    EXPECT_TRUE(kit::platform::process_running("pcscd", root));
    EXPECT_FALSE(kit::platform::process_running("pcsc", root));
    EXPECT_FALSE(kit::platform::process_running("impostor", root));
    EXPECT_TRUE(kit::platform::process_running("averyveryverylongname", root));
    EXPECT_FALSE(kit::platform::process_running("", root));
    EXPECT_FALSE(kit::platform::process_running("pcscd", root.string() + "/absent"));
}

TEST(CardStateValue, PcscLiteBitsBecomeWindowsValues) {
    using tarvik::reader::card_state_value;
    EXPECT_EQ(card_state_value(0x0001), 0);
    EXPECT_EQ(card_state_value(SCARD_ABSENT), 1);
    EXPECT_EQ(card_state_value(SCARD_PRESENT), 2);
    EXPECT_EQ(card_state_value(SCARD_PRESENT | SCARD_SWALLOWED), 3);
    EXPECT_EQ(card_state_value(SCARD_PRESENT | SCARD_SWALLOWED | SCARD_POWERED), 4);
    EXPECT_EQ(card_state_value(0x34), 5);
    EXPECT_EQ(card_state_value(0x10034), 5);  // event counter above the state bits
    EXPECT_EQ(card_state_value(0x54), 6);
    EXPECT_EQ(card_state_value(0x20000), 0);
}
