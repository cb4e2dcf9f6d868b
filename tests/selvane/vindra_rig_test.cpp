// Runs the Java check program (java/VindraCheck.java) on the JVM with
// -Xcheck:jni against libselvane.so, which loads libtarvik.so and the
// card-terminal stand-in, with virtual cards in the rig.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "tests/rig/rig_support.h"

namespace fs = std::filesystem;

namespace {

std::string read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

class Vindra : public ::testing::Test {
protected:
    void SetUp() override {
        scratch_ = kit::rig::scratch_dir();
        ::setenv("APPDATA", scratch_.c_str(), 1);
    }

    // Exit status of the check program, run with LC_ALL=locale and no other
    // locale variable; the JVM's standard error is kept.
    int run_java(const std::vector<std::string>& args, const std::string& locale = "C.UTF-8") {
        std::vector<std::string> command{JAVA_EXECUTABLE, "-Xcheck:jni", "-Djava.library.path=" JAVA_LIBRARY_DIR,
                                         "-cp", JAVA_CLASSPATH, "VindraCheck"};
        command.insert(command.end(), args.begin(), args.end());
        std::vector<char*> argv;
        for (auto& part : command) argv.push_back(part.data());
        argv.push_back(nullptr);
        std::vector<std::string> environment{"LC_ALL=" + locale};
        for (char** e = environ; *e != nullptr; ++e) {
            const std::string entry = *e;
            if (entry.rfind("LC_", 0) != 0 && entry.rfind("LANG=", 0) != 0 && entry.rfind("LANGUAGE=", 0) != 0)
                environment.push_back(entry);
        }
        std::vector<char*> envp;
        for (auto& entry : environment) envp.push_back(entry.data());
        envp.push_back(nullptr);
        const std::string err_path = scratch_ + "/java.err";
        const pid_t pid = ::fork();
        if (pid == 0) {
            const int fd = ::open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
            if (fd >= 0) ::dup2(fd, 2);
            ::execve(argv[0], argv.data(), envp.data());
            ::_exit(127);
        }
        int status = 0;
        if (pid < 0 || ::waitpid(pid, &status, 0) != pid) return -1;
        java_err_ = read_file(err_path);
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

    std::string reader() const { return kit::rig::slot_name(kit::rig::reader_entries().at(0)); }

    std::string make_pki() {
        const std::string pki = scratch_ + "/pki";
        EXPECT_TRUE(kit::rig::make_test_pki(pki));
        return pki;
    }

    std::string scratch_;
    std::string java_err_;
};

TEST_F(Vindra, WithoutReadersFieldsAreDefined) {
    EXPECT_EQ(run_java({"no-readers"}), 0) << java_err_;
    EXPECT_EQ(java_err_.find("WARNING"), std::string::npos) << java_err_;
}

TEST_F(Vindra, SisCardOnOmnikeyReaderWithSamAndSfdfTextIsValidJava) {
    // An insurer number holding code-page-850 0x82 ("é") and 0x9C ("£").
    const std::string period = std::string("\x80\x03") + "101" + "\x81\x05" + "Caf\x82\x9C" + "\x84\x08" +
                               "20000101" + "\x85\x08" + "99999999";
    const std::string image = std::string("\xA3") + static_cast<char>(period.size()) + period;
    const std::string sfdf = scratch_ + "/sfdf.bin";
    std::ofstream(sfdf, std::ios::binary) << image;
    ::setenv("KIT_CTM_SFDF", sfdf.c_str(), 1);
    const std::string pki = make_pki();
    kit::rig::VirtualCard card(kit::rig::port_of(0),
                               {"--profile", "sle4418", "--memory", "@" + pki + "/sis_valid.bin"});
    ASSERT_TRUE(kit::rig::wait_for_card(reader(), true));
    // The expected text travels as Java escapes (backslash, u, four hex
    // digits): a JVM under an ASCII locale reads other characters of its
    // command line as "?". The kit's texts are the same in either locale.
    for (const char* locale : {"C", "C.UTF-8"}) {
        SCOPED_TRACE(locale);
        EXPECT_EQ(run_java({"sis", reader(), "<SFDF_INUM>Caf\\u00e9\\u00a3</SFDF_INUM>"}, locale), 0) << java_err_;
        EXPECT_EQ(java_err_.find("WARNING"), std::string::npos) << java_err_;
    }
    EXPECT_EQ(read_file(scratch_ + "/sisreader.txt"), reader());
}

TEST_F(Vindra, EidCardWithAndWithoutPhoto) {
    const std::string pki = make_pki();
    kit::rig::VirtualCard card(kit::rig::port_of(0), {"--profile", "eid", "--pki", pki});
    ASSERT_TRUE(kit::rig::wait_for_card(reader(), true));
    const std::string photo = scratch_ + "/photo.jpg";
    EXPECT_EQ(run_java({"eid", reader(), photo, std::to_string(fs::file_size(pki + "/photo.jpg"))}), 0) << java_err_;
    EXPECT_EQ(read_file(photo), read_file(pki + "/photo.jpg"));
    EXPECT_EQ(java_err_.find("WARNING"), std::string::npos) << java_err_;
}

TEST_F(Vindra, EidPhotoNeverFollowsALinkAtItsName) {
    const std::string pki = make_pki();
    kit::rig::VirtualCard card(kit::rig::port_of(0), {"--profile", "eid", "--pki", pki});
    ASSERT_TRUE(kit::rig::wait_for_card(reader(), true));
    const std::string target = scratch_ + "/target.txt";
    std::ofstream(target) << "keep";
    // Not the name the plain read writes to: the scratch folder lasts the whole process.
    const std::string link = scratch_ + "/linked-photo.jpg";
    fs::remove(link);
    fs::create_symlink(target, link);
    // The read stands; the file the host sees through the link keeps its 4 bytes.
    EXPECT_EQ(run_java({"eid", reader(), link, "4"}), 0) << java_err_;
    EXPECT_TRUE(fs::is_symlink(link));
    EXPECT_EQ(read_file(target), "keep");
}

}  // namespace
