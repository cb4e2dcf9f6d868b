#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <set>
#include <string_view>
#include <string>
#include <span>
#include <iterator>

#include "platform/dynamic_library.h"
#include "platform/file_writer.h"
#include "platform/markup_text.h"
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

TEST(FileWriter, ReplacesAFileRefusesALinkAndRemovesOnlyWhatItMade) {
    namespace fs = std::filesystem;
    using kit::platform::WriteResult;
    const fs::path dir = kit::rig::scratch_dir() + "/files";
    fs::remove_all(dir);  // the scratch folder lasts the whole process
    fs::create_directories(dir);
    const auto text = [](const fs::path& path) {
        std::ifstream in(path);
        return std::string(std::istreambuf_iterator<char>(in), {});
    };
    const auto bytes = [](std::string_view s) {
        return std::span(reinterpret_cast<const unsigned char*>(s.data()), s.size());
    };
    std::ofstream(dir / "old") << "a longer old content";
    EXPECT_EQ(kit::platform::write_file(dir / "old", bytes("new")), WriteResult::written);
    EXPECT_EQ(text(dir / "old"), "new");

    fs::create_symlink(dir / "old", dir / "link");
    EXPECT_EQ(kit::platform::write_file(dir / "link", bytes("evil")), WriteResult::not_opened);
    EXPECT_TRUE(fs::is_symlink(dir / "link"));
    EXPECT_EQ(text(dir / "old"), "new");

    // Only a regular file is written: a device or a directory is refused,
    // and a FIFO at once, where an open for writing would wait for a reader
    // (the alarm ends a test that hangs).
    EXPECT_EQ(kit::platform::write_file("/dev/full", bytes("x")), WriteResult::not_opened);
    EXPECT_TRUE(fs::is_character_file("/dev/full"));
    EXPECT_EQ(kit::platform::write_file(dir, bytes("x")), WriteResult::not_opened);
    ASSERT_EQ(::mkfifo((dir / "fifo").c_str(), 0600), 0);
    ::alarm(10);
    EXPECT_EQ(kit::platform::write_file(dir / "fifo", bytes("x")), WriteResult::not_opened);
    ::alarm(0);
    EXPECT_TRUE(fs::is_fifo(dir / "fifo"));

    // A failed write removes the file of its own making, and a failed
    // rewrite leaves the previous file as it was.
    std::ofstream(dir / "kept") << "ab";
    const auto previous = std::signal(SIGXFSZ, SIG_IGN);
    rlimit saved{};
    ::getrlimit(RLIMIT_FSIZE, &saved);
    rlimit small = saved;
    small.rlim_cur = 2;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    const WriteResult too_big = kit::platform::write_file(dir / "big", bytes("xyz"));
    const WriteResult rewrite = kit::platform::write_file(dir / "kept", bytes("xyz"));
    ::setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, previous);
    EXPECT_EQ(too_big, WriteResult::not_written);
    EXPECT_FALSE(fs::exists(dir / "big"));
    EXPECT_EQ(rewrite, WriteResult::not_written);
    EXPECT_EQ(text(dir / "kept"), "ab");

    // Neither a write nor a refusal leaves a temporary file behind.
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir)) names.insert(entry.path().filename());
    EXPECT_EQ(names, (std::set<std::string>{"fifo", "kept", "link", "old"}));
}

TEST(MarkupText, EntitiesRoundTripAndOtherAmpersandsStay) {
    std::string xml;
    kit::platform::append_xml_escaped(xml, "Kit & Co <R> &amp;");
    EXPECT_EQ(xml, "Kit &amp; Co &lt;R&gt; &amp;amp;");
    EXPECT_EQ(kit::platform::xml_unescaped(xml), "Kit & Co <R> &amp;");
    EXPECT_EQ(kit::platform::xml_unescaped("a &quot; &am &"), "a &quot; &am &");
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
