// The private SIS read against the card-terminal stand-in, in each outcome.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <ctime>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "selvane/sam_read.h"
#include "tests/fresh_process.h"
#include "tests/rig/rig_support.h"

namespace {

using selvane::ctm::Library;
namespace sam = selvane::sam;

int public_result = 1;
int public_calls = 0;

int fake_public_read(int, int mode, char* isdf, char* pbdf) {
    ++public_calls;
    std::strcat(isdf, mode == 1 ? "<isdf/>" : "ISDF=1\n");
    std::strcat(pbdf, mode == 1 ? "<pbdf/>" : "PBDF=1\n");
    return public_result;
}

std::string today() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char text[40];
    std::snprintf(text, sizeof text, "%04d%02d%02d", local.tm_year + 1900, local.tm_mon + 1, local.tm_mday);
    return text;
}

class SamRead : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = kit::rig::scratch_dir();
        log_ = dir_ + "/ctm.log";
        std::filesystem::remove(log_);  // the scratch folder lives as long as the process
        setenv("KIT_CTM_LOG", log_.c_str(), 1);
        unsetenv("KIT_CTM_FAULT");
        unsetenv("KIT_CTM_WRONG_PIN");
        unsetenv("KIT_CTM_SFDF");
        unsetenv("KIT_CTM_SAM_PIN");
        public_result = 1;
        public_calls = 0;
    }

    int read(const char* pin = "1234", int mode = 0) {
        std::filesystem::remove(log_);
        isdf_.assign(1024, '\0');
        pbdf_.assign(1024, '\0');
        std::strcpy(sfdf_.data(), prefix_);
        return sam::read_private(library_, fake_public_read, 7, mode, pin, isdf_.data(), pbdf_.data(), sfdf_.data());
    }

    std::vector<std::string> calls() const {
        std::ifstream file(log_);
        std::vector<std::string> lines;
        for (std::string line; std::getline(file, line);) lines.push_back(line);
        return lines;
    }

    std::string sfdf() const { return sfdf_.data(); }

    std::string dir_;
    std::string log_;
    Library library_{"ctmwin.dll"};
    std::vector<char> isdf_, pbdf_;
    std::vector<char> sfdf_ = std::vector<char>(4096, '\0');
    const char* prefix_ = "";
};

TEST_F(SamRead, SuccessAppendsSfdfAndReleasesEverything) {
    prefix_ = "before|";
    kit::rig::TraceCapture trace;
    ASSERT_EQ(sam::kRead, read("1234"));
    EXPECT_STREQ("ISDF=1\n", isdf_.data());
    EXPECT_STREQ("PBDF=1\n", pbdf_.data());
    const std::string text = sfdf();
    EXPECT_EQ(0u, text.find("before|SFDF_FLAG=1\n")) << text;
    EXPECT_NE(std::string::npos, text.find("PERIOD_1_SFDF_INUM=1234567890123\n")) << text;
    EXPECT_NE(std::string::npos, text.find("SFDF_CERTIFICATE=ABCDEFGHIJKLMNOPQRSTUVWXYZABCDEF\n")) << text;
    EXPECT_NE(std::string::npos, text.find("SFDF_READ_DATE=" + today() + "\n")) << text;
    EXPECT_NE(std::string::npos, text.find("SFDF_VER_ENSURANCE=10\n")) << text;
    // The built-in card has one open-ended period that holds today, ICT2 100.
    EXPECT_NE(std::string::npos, text.find("SFDF_PAY_REG=0\n")) << text;

    const std::vector<std::string> expected{
        "CtmOpen", "CtmResOpen SAM", "CtmResOpen SIS", "CtmCardOpen 513 Insert sam card 0 1",
        "CtmCardCommand 513 9 802001030431323334", "CtmCardOpen 514 Insert sis card 0 20", "CtmSetExclusivity 513 1",
        "CtmSetExclusivity 514 1", "BncsInitialise 514 513 bncs.ini", "BncsReadData 514 17 1",
        "BncsReadData 514 18 1", "BncsReadData 514 67 1", "BncsGetData 514 18", "BncsGetData 514 67",
        "CtmSetExclusivity 513 0", "CtmSetExclusivity 514 0", "CtmResClose 514", "CtmResClose 513",
        "CtmClose 256"};
    EXPECT_EQ(expected, calls());
    EXPECT_NE(std::string::npos, trace.text().find("BncsReadData(SisHdl,SIS_SFDF,1,siskeys) -> retval=0"));
    EXPECT_NE(std::string::npos, trace.text().find("<<<<"));
}

TEST_F(SamRead, SfdfTextBoundedWithWhatTheBufferHolds) {
    // 1,500 bytes held: the SFDF text (some 700 bytes) no longer fits the
    // 2,048 bytes. The bytes after them are the host's.
    const std::string held(1500, 'h');
    prefix_ = held.c_str();
    std::fill(sfdf_.begin() + 2048, sfdf_.end(), '#');
    EXPECT_EQ(sam::kFailed, read("1234"));
    EXPECT_EQ(held, sfdf());
    EXPECT_TRUE(std::all_of(sfdf_.begin() + 2048, sfdf_.end(), [](char c) { return c == '#'; }));
}

TEST_F(SamRead, XmlModeRendersSelectedPeriod) {
    ASSERT_EQ(sam::kRead, read("1234", 1));
    EXPECT_STREQ("<isdf/>", isdf_.data());
    const std::string text = sfdf();
    EXPECT_EQ(0u, text.find("<SIS_SFDF>\n")) << text;
    EXPECT_NE(std::string::npos, text.find("<SELECTED_PERIOD>1</SELECTED_PERIOD>\n")) << text;
}

TEST_F(SamRead, NullBuffersAreRefusedBeforeAnyCall) {
    char buffer[64] = "";
    EXPECT_EQ(sam::kNullIsdf, sam::read_private(library_, fake_public_read, 1, 0, "1234", nullptr, buffer, buffer));
    EXPECT_EQ(sam::kNullPbdf, sam::read_private(library_, fake_public_read, 1, 0, "1234", buffer, nullptr, buffer));
    EXPECT_EQ(sam::kNullSfdf, sam::read_private(library_, fake_public_read, 1, 0, "1234", buffer, buffer, nullptr));
    EXPECT_EQ(0, public_calls);
    EXPECT_TRUE(calls().empty());
}

TEST_F(SamRead, PinIsTakenAsFarAsItGoesUpToFourCharacters) {
    // The VERIFY the SAM receives: the PIN's first four bytes, zero bytes after a shorter one.
    const auto verify_sent = [this] {
        for (const auto& line : calls())
            if (line.rfind("CtmCardCommand ", 0) == 0) return line;
        return std::string();
    };
    EXPECT_EQ(sam::kRead, read("12345678"));
    EXPECT_EQ("CtmCardCommand 513 9 802001030431323334", verify_sent());
    EXPECT_EQ(sam::kWrongPin, read("12"));
    EXPECT_EQ("CtmCardCommand 513 9 802001030431320000", verify_sent());
    EXPECT_EQ(sam::kWrongPin, read(nullptr));
    EXPECT_EQ("CtmCardCommand 513 9 802001030400000000", verify_sent());

    setenv("KIT_CTM_SAM_PIN", "12", 1);  // the SAM holds 31 32 00 00
    EXPECT_EQ(sam::kRead, read("12"));
    EXPECT_EQ(sam::kWrongPin, read("123"));
    EXPECT_EQ("CtmCardCommand 513 9 802001030431323300", verify_sent());
    EXPECT_EQ(sam::kRead, read(std::string("12\0" "9", 4).c_str()));  // nothing after the end of the text
}

TEST_F(SamRead, VerifyRepliesDecideTheOutcome) {
    kit::rig::TraceCapture trace;
    EXPECT_EQ(sam::kWrongPin, read("9999"));
    EXPECT_NE(std::string::npos, trace.text().find("0x9030 = wrong pincode !!! "));
    EXPECT_EQ(std::string(), sfdf());
    EXPECT_STREQ("ISDF=1\n", isdf_.data());  // the public texts stay

    setenv("KIT_CTM_FAULT", "no-sam", 1);
    EXPECT_EQ(sam::kNoSamOrWrongPin, read("1234"));
    EXPECT_NE(std::string::npos, trace.text().find("0x9001 = card not inserted or wrong pincode !!! "));
    unsetenv("KIT_CTM_FAULT");

    // Another two-byte reply goes on; the locked SAM then yields no data,
    // which must not pass for a read.
    setenv("KIT_CTM_WRONG_PIN", "63C2", 1);
    EXPECT_EQ(sam::kNoCertificate, read("9999"));
    const auto log = calls();
    EXPECT_NE(log.end(), std::find(log.begin(), log.end(), "BncsGetData 514 67"));
    EXPECT_EQ("CtmClose 256", log.back());
    EXPECT_EQ(std::string(), sfdf());
}

struct FailureCase {
    const char* fault;
    int result;
    const char* trace;
    std::vector<std::string> closing;  // the last calls made
};

// Names the case in test listings (instead of its raw bytes).
void PrintTo(const FailureCase& c, std::ostream* os) { *os << c.fault; }

class SamReadFailure : public SamRead, public ::testing::WithParamInterface<FailureCase> {};

TEST_P(SamReadFailure, ReturnsItsCodeTracesAndClosesWhatWasOpened) {
    const FailureCase& c = GetParam();
    setenv("KIT_CTM_FAULT", c.fault, 1);
    kit::rig::TraceCapture trace;
    EXPECT_EQ(c.result, read());
    EXPECT_EQ(std::string(), sfdf());
    if (*c.trace) {
        EXPECT_NE(std::string::npos, trace.text().find(c.trace)) << trace.text();
    }
    const auto log = calls();
    ASSERT_GE(log.size(), c.closing.size());
    EXPECT_EQ(c.closing, std::vector<std::string>(log.end() - static_cast<long>(c.closing.size()), log.end()));
    EXPECT_EQ(0, std::count(log.begin(), log.end(), "CtmSetExclusivity 513 0"));
}

const std::vector<std::string> kAllClosed{"CtmResClose 514", "CtmResClose 513", "CtmClose 256"};

INSTANTIATE_TEST_SUITE_P(
    EachFault, SamReadFailure,
    ::testing::Values(
        FailureCase{"open", sam::kFailed, "-1 = CtmOpen(&AppHdl);", {"CtmOpen"}},
        FailureCase{"sam-resource", sam::kFailed, "-1 = CtmResOpen(AppHdl,\"SAM\",&SamHdl);",
                    {"CtmResOpen SAM", "CtmClose 256"}},
        FailureCase{"sis-resource", sam::kFailed, "-1 = CtmResOpen(AppHdl,\"SIS\",&SamHdl);",
                    {"CtmResOpen SIS", "CtmResClose 513", "CtmClose 256"}},
        FailureCase{"sis-zero-handle", sam::kFailed, "-1 = CtmResOpen(AppHdl,\"SIS\",&SamHdl);",
                    {"CtmResOpen SIS", "CtmResClose 513", "CtmClose 256"}},
        FailureCase{"verify-send", sam::kFailed, "-1 = CtmCardCommand(SamHdl,(HDL)0, 5+4,", kAllClosed},
        FailureCase{"sis-card", sam::kFailed, " FAILED CtmCardOpen(SisHdl,\"Insert sis card\"", kAllClosed},
        FailureCase{"sam-exclusivity", sam::kExclusivityRefused, "", kAllClosed},
        FailureCase{"sis-exclusivity", sam::kExclusivityRefused, "CtmSetExclusivity", kAllClosed},
        FailureCase{"no-certificate", sam::kNoCertificate, "0x9002 = incorrect certlen -> sam error ?",
                    kAllClosed}),
    [](const ::testing::TestParamInfo<FailureCase>& param_info) {
        std::string name = param_info.param.fault;
        std::replace(name.begin(), name.end(), '-', '_');
        return name;
    });

TEST_F(SamRead, FailedSfdfFetchNeverReportsTheEarlierCard) {
    ASSERT_EQ(sam::kRead, read());
    setenv("KIT_CTM_FAULT", "sfdf-fetch", 1);
    EXPECT_EQ(sam::kNoCertificate, read());
    EXPECT_EQ(std::string(), sfdf());
}

TEST_F(SamRead, SfdfFromTestDataIsDecoded) {
    const std::string path = dir_ + "/sfdf.bin";
    std::string period = std::string("\x84\x08") + "19990101" + "\x85\x08" + "20001231";
    std::string image = std::string("\xA3") + static_cast<char>(period.size()) + period;
    std::ofstream(path, std::ios::binary) << image;
    setenv("KIT_CTM_SFDF", path.c_str(), 1);
    ASSERT_EQ(sam::kRead, read());
    // Over, so chosen outside today: regime X.
    EXPECT_NE(std::string::npos, sfdf().find("PERIOD_1_SFDF_IEDT=20001231\nPERIOD_2_SFDF_INID=\n")) << sfdf();
    EXPECT_NE(std::string::npos, sfdf().find("SFDF_PAY_REG=X\n")) << sfdf();
}

TEST_F(SamRead, LoadFailureIsRetriedOnTheNextCall) {
    // A name of its own each time: a loaded library may stay mapped under its name.
    static int runs = 0;
    const std::string target = dir_ + "/libctmwin-later-" + std::to_string(++runs) + ".so";
    Library later(target);
    char isdf[64] = "", pbdf[64] = "", out[2048] = "";
    kit::rig::TraceCapture trace;
    EXPECT_EQ(sam::kFailed, sam::read_private(later, fake_public_read, 1, 0, "1234", isdf, pbdf, out));
    EXPECT_EQ(0, public_calls);  // nothing is read without the terminal library
    EXPECT_NE(std::string::npos, trace.text().find("] -1 [PCSC_SIS_Read_Private")) << trace.text();
    std::filesystem::copy_file(KIT_CTMWIN_PATH, target);
    EXPECT_EQ(sam::kRead, sam::read_private(later, fake_public_read, 1, 0, "1234", isdf, pbdf, out));
}

// Each variant in a fresh process: a loaded C++ library may stay mapped after
// dlclose, and would then answer for the complete library's name.
class IncompleteLibrary : public ::testing::TestWithParam<const char*> {};

TEST_P(IncompleteLibrary, IsNeverUsed) {
    const std::string variant = GetParam();
    kit::test::in_fresh_process([&variant] {
        Library incomplete(std::string(KIT_CTM_INCOMPLETE_DIR) + "/ctmwin-" + variant + "/libctmwin.so");
        EXPECT_EQ(nullptr, incomplete.functions());
        EXPECT_EQ(nullptr, incomplete.functions());
    });
}

INSTANTIATE_TEST_SUITE_P(Variants, IncompleteLibrary,
                         ::testing::Values("unloadable", "no-CtmOpen", "no-CtmIsSisCard", "no-BncsWriteData",
                                           "no-BncsGetData"),
                         [](const ::testing::TestParamInfo<const char*>& param_info) {
                             std::string name = param_info.param;
                             std::replace(name.begin(), name.end(), '-', '_');
                             return name;
                         });

}  // namespace
