// Runs the Java check program (java/DuzEdorireCheck.java) on the JVM with
// -Xcheck:jni against libtarvik.so, with a virtual card in the rig and the
// scripted server in this process (so outside the JVM's), and checks what
// the server received.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <filesystem>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "test_auth_server.h"
#include "tests/rig/rig_support.h"

namespace fs = std::filesystem;
using testserver::ScriptedReply;
using testserver::TestAuthServer;

namespace {

constexpr uint8_t kTagTransaction = 4, kTagFunction = 1, kTagSession = 5, kTagIdentityFile = 56;
constexpr const char* kSelectCert4 = "APDU 00A4020C02503A";
constexpr uint8_t kTagChallenge = 146, kTagChallengeSignature = 147, kTagSignedHash = 156, kTagHashSignature = 157;

// Exit status of the Java check program with these arguments.
int run_java(const std::vector<std::string>& args) {
    std::vector<std::string> command{JAVA_EXECUTABLE, "-Xcheck:jni", "-Djava.library.path=" JAVA_LIBRARY_DIR, "-cp",
                                     JAVA_CLASSPATH, "DuzEdorireCheck"};
    command.insert(command.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& part : command) argv.push_back(part.data());
    argv.push_back(nullptr);
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    int status = 0;
    if (pid < 0 || ::waitpid(pid, &status, 0) != pid) return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

const testserver::TllvItem* find_item(const testserver::RecordedRequest& request, uint8_t tag) {
    for (const auto& item : request.items)
        if (item.tag == tag) return &item;
    return nullptr;
}

std::string le32(uint32_t value) {
    std::string bytes;
    for (int i = 0; i < 4; ++i) bytes += static_cast<char>((value >> (8 * i)) & 0xFF);
    return bytes;
}

class JavaFace : public ::testing::Test {
protected:
    void SetUp() override {
        scratch_ = kit::rig::scratch_dir();
        app_data_ = scratch_ + "/appdata";
        fs::create_directories(app_data_ + "/digIDs");
        ::setenv("APPDATA", app_data_.c_str(), 1);
        ASSERT_TRUE(server_.start());
    }
    // The eID card of a fresh test PKI (or a variant of it) in the first reader.
    void insert_card(const std::string& variant = "") {
        const std::string pki = scratch_ + "/pki";
        if (!fs::exists(pki)) {
            ASSERT_TRUE(kit::rig::make_test_pki(pki));
        }
        photo_size_ = fs::file_size(pki + "/photo.jpg");
        std::vector<std::string> args{"--profile", "eid", "--pki", pki};
        if (!variant.empty()) args.insert(args.end(), {"--variant", variant});
        card_.reset();
        card_ = std::make_unique<kit::rig::VirtualCard>(kit::rig::port_of(0), args);
        reader_ = kit::rig::slot_name(kit::rig::reader_entries().at(0));
        ASSERT_TRUE(kit::rig::wait_for_card(reader_, true));
    }
    std::string scratch_, app_data_, reader_;
    std::uintmax_t photo_size_ = 0;
    std::unique_ptr<kit::rig::VirtualCard> card_;
    TestAuthServer server_;
};

TEST_F(JavaFace, WithoutReadersTheListSaysSoAndTheLogGoesToTheDataDirectory) {
    ASSERT_EQ(run_java({"no-readers", server_.url()}), 0);
    struct stat info {};
    EXPECT_EQ(::stat((app_data_ + "/digIDs/eidzundelog.txt").c_str(), &info), 0);
}

TEST_F(JavaFace, PublicDataNativesThroughCardAndServer) {
    ASSERT_NO_FATAL_FAILURE(insert_card());
    const std::string& reader = reader_;

    for (const char* id : {"TXIDENTIFY", "TXCAPTURE", "TXVERIFY"})
        server_.script({200, testserver::envelope(testserver::tllv_item(4, id))});
    server_.script({200, ""});
    ASSERT_EQ(run_java({"public-data", reader, server_.url(), std::to_string(photo_size_)}), 0);

    const auto requests = server_.requests();
    ASSERT_EQ(requests.size(), 4u);
    const auto* session = find_item(requests[0], kTagSession);
    ASSERT_NE(session, nullptr);
    EXPECT_EQ(session->value.size(), 32u);
    for (const auto& request : requests) {
        ASSERT_NE(find_item(request, kTagSession), nullptr);
        EXPECT_EQ(find_item(request, kTagSession)->value, session->value);
    }
    ASSERT_NE(find_item(requests[0], kTagFunction), nullptr);
    EXPECT_EQ(find_item(requests[0], kTagFunction)->value, le32(0x1001249));
    EXPECT_EQ(find_item(requests[1], kTagFunction)->value, le32(0x101249));
    EXPECT_EQ(find_item(requests[2], kTagFunction)->value, le32(0x201249));
    const auto* identity = find_item(requests[1], kTagIdentityFile);
    ASSERT_NE(identity, nullptr);
    EXPECT_NE(identity->value.find("Peeters"), std::string::npos);
}

// The server accepts the results, yet a local check that failed is what
// the host gets: its code, and no transaction XML. The last card carries
// the genuine root and a self-signed CA of its own that issued its
// authentication and signing certificates.
TEST_F(JavaFace, PublicDataVerifyOfAChangedCardAnswersTheCheckThatFailed) {
    for (const auto& [variant, code] :
         {std::pair{"tampered-identity", "1010"}, {"tampered-address", "1011"}, {"selfsigned-ca", "1019"}}) {
        SCOPED_TRACE(variant);
        ASSERT_NO_FATAL_FAILURE(insert_card(variant));
        server_.script({200, testserver::envelope(testserver::tllv_item(kTagTransaction, "TXVERIFY"))});
        EXPECT_EQ(run_java({"changed-card", reader_, server_.url(), code}), 0);
    }
}

TEST_F(JavaFace, KeyNativesThroughCardAndServer) {
    ASSERT_NO_FATAL_FAILURE(insert_card());
    server_.script({200, testserver::envelope(testserver::tllv_item(kTagTransaction, "TXAUTH") +
                                              testserver::tllv_item(kTagChallenge, std::string(20, '\x3C')))});
    server_.script({200, testserver::envelope(testserver::tllv_item(kTagTransaction, "TXAUTH"))});
    server_.script({200, testserver::envelope(testserver::tllv_item(kTagTransaction, "TXSIGN"))});
    server_.script({200, testserver::envelope(testserver::tllv_item(kTagTransaction, "TXSIGN2"))});
    server_.script({200, testserver::envelope(testserver::tllv_item(kTagTransaction, "TXSIGN3"))});
    ASSERT_EQ(run_java({"keys", reader_, server_.url()}), 0);

    const auto requests = server_.requests();
    ASSERT_EQ(requests.size(), 5u) << "the refused hashes reached the server";
    // Certificate 4 is read by the authentication (which leaves no card
    // identifier in the cache) and the first signing, taken from the cache
    // by the second, and read again after destroyApplet.
    const std::string log = card_->log();
    std::size_t reads = 0;
    for (auto at = log.find(kSelectCert4); at != std::string::npos; at = log.find(kSelectCert4, at + 1)) ++reads;
    EXPECT_EQ(reads, 3u);
    ASSERT_NE(find_item(requests[1], kTagChallengeSignature), nullptr);
    EXPECT_EQ(find_item(requests[1], kTagChallengeSignature)->value.size(), 128u);
    ASSERT_NE(find_item(requests[2], kTagSignedHash), nullptr);
    EXPECT_EQ(find_item(requests[2], kTagSignedHash)->value,
              std::string("\xA9\x99\x3E\x36\x47\x06\x81\x6A\xBA\x3E\x25\x71\x78\x50\xC2\x6C\x9C\xD0\xD8\x9D", 20));
    ASSERT_NE(find_item(requests[2], kTagHashSignature), nullptr);
    EXPECT_EQ(find_item(requests[2], kTagHashSignature)->value.size(), 128u);
}

class JavaFaceSecureEntry : public JavaFace {
protected:
    void SetUp() override {
        JavaFace::SetUp();
        ASSERT_NO_FATAL_FAILURE(insert_card());
        std::ofstream(app_data_ + "/digIDs/spinpad.txt") << "[reader00]\nname=Kit\nlib=spetest\n";
        const char* path = std::getenv("PATH");
        ::setenv("PATH", (std::string(JAVA_LIBRARY_DIR ":") + (path ? path : "")).c_str(), 1);
    }
};

TEST_F(JavaFaceSecureEntry, ReaderNameSpinpadListAndLibrarySwitch) {
    const auto before = fs::current_path();
    fs::current_path(scratch_);
    EXPECT_EQ(run_java({"secure-entry", reader_, server_.url()}), 0);
    fs::current_path(before);
}

TEST_F(JavaFaceSecureEntry, TheCurrentDirectoryIsNeverSearched) {
    const auto before = fs::current_path();
    const std::string folder = scratch_ + "/cwd";
    fs::create_directories(folder);
    std::ofstream(folder + "/libspetest.so") << "not a library";
    fs::current_path(folder);
    EXPECT_EQ(run_java({"library-along-path", reader_, server_.url()}), 0);
    fs::current_path(before);
}

}  // namespace
