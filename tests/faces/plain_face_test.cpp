// The plain face without a card: log directory lookup, environment
// expansion, the Portuguese read against its stand-in, the text conversion
// the JNI face hands to Java, and what the JNI openDevice resets.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

#include "tarvik/faces/face_state.h"
#include "tarvik/faces/jni_face.h"
#include "tarvik/engine/eid_engine.h"
#include "tarvik/faces/jni_support.h"
#include "tarvik/faces/log_directory.h"
#include "tarvik.h"
#include "tests/fresh_process.h"

namespace fs = std::filesystem;

namespace {

// A scratch folder of the test's own, removed afterwards.
class ScratchDir {
public:
    ScratchDir() {
        std::string pattern = (fs::temp_directory_path() / "faces-XXXXXX").string();
        path_ = ::mkdtemp(pattern.data());
    }
    ~ScratchDir() { fs::remove_all(path_); }
    const std::string& path() const { return path_; }

private:
    std::string path_;
};

std::string log_directory() {
    char buffer[LOG_DIRECTORY_SIZE];
    std::memset(buffer, 'x', sizeof buffer);
    EXPECT_EQ(getLogDirectory(buffer), 0);
    return buffer;
}

TEST(LogDirectory, AppDataWhenItCanBeEnteredElseCurrentDirectoryWhichStaysUnchanged) {
    ScratchDir scratch;
    const std::string before = fs::current_path().string();

    ::setenv("APPDATA", scratch.path().c_str(), 1);
    EXPECT_EQ(log_directory(), scratch.path());
    EXPECT_EQ(fs::current_path().string(), before);

    ::setenv("APPDATA", (scratch.path() + "/missing").c_str(), 1);
    EXPECT_EQ(log_directory(), before);

    std::ofstream(scratch.path() + "/plain-file") << "x";
    ::setenv("APPDATA", (scratch.path() + "/plain-file").c_str(), 1);
    EXPECT_EQ(log_directory(), before);

    ::unsetenv("APPDATA");
    EXPECT_EQ(log_directory(), before);
    EXPECT_EQ(fs::current_path().string(), before);
    EXPECT_EQ(getLogDirectory(nullptr), -1);
}

TEST(LogDirectory, AnAppDataPathTooLongForTheBufferIsNotUsed) {
    ScratchDir scratch;
    std::string deep = scratch.path();
    while (deep.size() < LOG_DIRECTORY_SIZE + 10) deep += "/abcdefghijklmnopqrstuvwxyz";
    fs::create_directories(deep);
    ::setenv("APPDATA", deep.c_str(), 1);
    EXPECT_EQ(log_directory(), fs::current_path().string());
    ::unsetenv("APPDATA");
}

TEST(LogDirectory, EngineGetsItWithItsSeparatorAndTheCurrentDirectoryWhenItFails) {
    ScratchDir scratch;
    ::setenv("APPDATA", scratch.path().c_str(), 1);
    ASSERT_EQ(eidStartAccessRights(""), 0);
    EXPECT_EQ(std::string(eid_data_directory()), scratch.path() + "/");

    // A current directory too long for the log directory buffer, and no
    // APPDATA: the files go to the current directory, never to "/".
    std::string deep = scratch.path();
    while (deep.size() < LOG_DIRECTORY_SIZE + 10) deep += "/abcdefghijklmnopqrstuvwxyz";
    fs::create_directories(deep);
    const fs::path before = fs::current_path();
    fs::current_path(deep);
    ::unsetenv("APPDATA");
    char directory[LOG_DIRECTORY_SIZE];
    EXPECT_EQ(getLogDirectory(directory), -1);
    ASSERT_EQ(eidStartOnline("http://127.0.0.1:9/"), 0);
    EXPECT_STREQ(eid_data_directory(), "./");
    EXPECT_TRUE(fs::exists(fs::path(deep) / "eidzundelog.txt"));
    fs::current_path(before);
}

TEST(EnvironmentExpansion, KnownNamesReplacedUnknownKeptUserNameFallsBackToUser) {
    ::setenv("KIT_FACES_A", "alpha", 1);
    ::unsetenv("KIT_FACES_UNSET");
    EXPECT_EQ(expand_environment("%KIT_FACES_A%/x/%KIT_FACES_A%"), "alpha/x/alpha");
    EXPECT_EQ(expand_environment("%KIT_FACES_UNSET%/y"), "%KIT_FACES_UNSET%/y");
    EXPECT_EQ(expand_environment("50%%KIT_FACES_A%"), "50%alpha");
    EXPECT_EQ(expand_environment("no end %KIT_FACES_A"), "no end %KIT_FACES_A");

    ::unsetenv("USERNAME");
    ::setenv("USER", "kituser", 1);
    EXPECT_EQ(expand_environment("%USERNAME%_log"), "kituser_log");
}

TEST(ModifiedUtf8, ValidTextStaysOtherBytesBecomeValidSequences) {
    using jni_support::to_modified_utf8;
    EXPECT_EQ(to_modified_utf8("Jos\xC3\xA9"), "Jos\xC3\xA9");
    EXPECT_EQ(to_modified_utf8(std::string("a\0b", 3)), "a\xC0\x80" "b");
    // Latin-1 bytes of a card file that is not UTF-8.
    EXPECT_EQ(to_modified_utf8("Jos\xE9"), "Jos\xC3\xA9");
    EXPECT_EQ(to_modified_utf8("\xC3"), "\xC3\x83");
    // U+1F600 as a surrogate pair.
    EXPECT_EQ(to_modified_utf8("\xF0\x9F\x98\x80"), "\xED\xA0\xBD\xED\xB8\x80");
    // An encoded surrogate and an over-long form are not valid input.
    EXPECT_EQ(to_modified_utf8("\xED\xA0\x80"), "\xC3\xAD\xC2\xA0\xC2\x80");
    EXPECT_EQ(to_modified_utf8("\xE0\x80\x80"), "\xC3\xA0\xC2\x80\xC2\x80");
}

struct PtOutputs {
    char identity[PLAIN_PT_TEXT_SIZE] = "old identity";
    char address[PLAIN_PT_TEXT_SIZE] = "old address";
    unsigned char photo[PLAIN_PT_PHOTO_SIZE] = {};
    int photo_len = -7;
    int read(int want_identity, int want_photo) {
        return readPtEidPubDataIdentify(1, 2, 3, want_identity, want_photo, identity, address, photo, &photo_len);
    }
};

const char* kStandInIdentity =
    "CARD_NUMBER=99000001 0 ZZ9\nCHIP_NUMBER=0000000000000001\nSTART_DATE=01 01 2020\nEND_DATE=01 01 2030\n"
    "DELIVERY_MUNICIPALITY=TESTE\nNATIONAL_NUMBER=123456789\nNAME=EXEMPLO\nFIRST_NAMES=MARIA TESTE\n"
    "NATIONALITY=PRT\nBIRTH_LOCATION=\nBIRTH_DATE=02 03 1980\nSEX=F\nDOC_TYPE=TEST IDENTITY CARD\n"
    "NOBLE_CONDITION=\nSPECIAL_STATUS=0\nHASH_PHOTO=\n\n";

// Each case runs in a fresh process, so each sees the first call.
TEST(PortugueseRead, FirstCallBindsOnlyThenIdentityAndPictureAreRead) {
    kit::test::in_fresh_process([] {
        ::unsetenv("KIT_PTEID_NO_CARD");
        PtOutputs out;
        EXPECT_EQ(out.read(1, 1), -3);
        EXPECT_STREQ(out.identity, "old identity");
        EXPECT_EQ(out.photo_len, -7);

        ASSERT_EQ(out.read(1, 1), 0);
        EXPECT_STREQ(out.identity, kStandInIdentity);
        EXPECT_STREQ(out.address, "STREET_AND_NUMBER=\nZIPCODE=\nMUNICIPALITY=\n");
        ASSERT_EQ(out.photo_len, 16);
        for (int i = 0; i < 16; ++i) EXPECT_EQ(out.photo[i], i);
    });
}

TEST(PortugueseRead, WantFlagsOtherThanOneReadNothing) {
    kit::test::in_fresh_process([] {
        PtOutputs out;
        EXPECT_EQ(out.read(2, 2), -3);
        EXPECT_EQ(out.read(2, 2), 0);  // the middleware's start-up result
        EXPECT_STREQ(out.identity, "old identity");
        EXPECT_STREQ(out.address, "old address");
        EXPECT_EQ(out.photo_len, -7);
    });
}

TEST(PortugueseRead, NoCardIsReportedAndLeavesTheTexts) {
    kit::test::in_fresh_process([] {
        ::setenv("KIT_PTEID_NO_CARD", "1", 1);
        PtOutputs out;
        EXPECT_EQ(out.read(1, 1), -3);
        EXPECT_EQ(out.read(1, 1), -2);
        EXPECT_STREQ(out.identity, "old identity");
        EXPECT_EQ(out.photo_len, -7);
        ::unsetenv("KIT_PTEID_NO_CARD");
    });
}

// A JNI environment that can only hand out the characters of one string.
const char* kReaderName = "No Such Reader";
const char* JNICALL reader_chars(JNIEnv*, jstring, jboolean*) { return kReaderName; }
void JNICALL release_chars(JNIEnv*, jstring, const char*) {}

TEST(JniOpenDevice, EmptiesTheCardCacheAndRenewsTheSession) {
    std::memset(&face_card_cache, 0x5A, sizeof face_card_cache);
    std::memset(face_session_id, 0, sizeof face_session_id);
    JNINativeInterface_ functions{};
    functions.GetStringUTFChars = reader_chars;
    functions.ReleaseStringUTFChars = release_chars;
    JNIEnv env{};
    env.functions = &functions;
    int dummy = 0;
    auto* name = reinterpret_cast<jstring>(&dummy);
    DUZEDORIRE_NATIVE(openDevice)(&env, nullptr, name);  // no reader of that name: the handle is an error
    const auto* bytes = reinterpret_cast<const unsigned char*>(&face_card_cache);
    EXPECT_TRUE(std::all_of(bytes, bytes + sizeof face_card_cache, [](unsigned char b) { return b == 0; }));
    EXPECT_EQ(std::strlen(face_session_id), FACE_SESSION_ID_LENGTH);
}

// No reader is opened in this process, so no handle is one tarvik handed
// out, not even the value an open would give.
TEST(UnknownHandle, RefusedBeforeTheEngineWithTheOutputsUntouched) {
    for (const int handle : {42, 0, -1, 0x1A2B}) {
        char identity[PLAIN_ID_TEXT_SIZE] = "old identity";
        char address[PLAIN_ADDRESS_TEXT_SIZE] = "old address";
        unsigned char photo[PLAIN_PHOTO_SIZE] = {};
        int photo_len = -7;
        EXPECT_EQ(readEidPubDataIdentify(handle, 0, 1, 1, 1, identity, address, photo, &photo_len), -100) << handle;
        EXPECT_EQ(readEidPubDataVerify(handle, 0, 1, 1, 1, identity, address, photo, &photo_len), -100) << handle;
        EXPECT_STREQ(identity, "old identity");
        EXPECT_STREQ(address, "old address");
        EXPECT_EQ(photo_len, -7);
        char transaction_id[PLAIN_TRANSACTION_ID_SIZE] = {};
        EXPECT_EQ(eidAuthenticationOnline(handle, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, "1234", transaction_id), -100);
        char isdf[PLAIN_SIS_TEXT_SIZE] = "", pbdf[PLAIN_SIS_TEXT_SIZE] = "";
        EXPECT_EQ(readSisCard(handle, 0, isdf, pbdf), -100) << handle;
        EXPECT_EQ(cardPresent(handle), 0);
    }
}

}  // namespace
