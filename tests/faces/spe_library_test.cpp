// setSPELibrary loads the library a host names: only from an absolute PATH
// entry, never from the working directory or a relative entry, where a
// planted library would run its constructor in the host.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "tarvik/faces/jni_face.h"
#include "tests/fake_jni_env.h"
#include "tests/rig/rig_support.h"

namespace fs = std::filesystem;

namespace {

class SpeLibrary : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = fs::path(kit::rig::scratch_dir()) / "spe-search";
        fs::remove_all(dir_);  // the scratch folder lasts the whole process
        fs::create_directories(dir_ / "sub");
        for (const fs::path& folder : {dir_, dir_ / "sub"})
            fs::copy_file(PLANTED_LIBRARY, folder / "libplanted.so");
        mark_ = dir_ / "mark";
        ::setenv("KIT_PLANTED_MARK", mark_.c_str(), 1);
        previous_dir_ = fs::current_path();
        fs::current_path(dir_);
        if (const char* path = std::getenv("PATH")) previous_path_ = path;
    }
    void TearDown() override {
        fs::current_path(previous_dir_);
        ::setenv("PATH", previous_path_.c_str(), 1);
    }

    int set_library(const char* name, const char* path) {
        ::setenv("PATH", path, 1);
        return DUZEDORIRE_NATIVE(setSPELibrary)(env_.get(), nullptr, env_.text("Kit Plain 00 00"), env_.text(name));
    }

    kit::test::StringsOnlyEnv env_;
    fs::path dir_, mark_, previous_dir_;
    std::string previous_path_;
};

TEST_F(SpeLibrary, OnlyAnAbsolutePathEntryIsSearched) {
    EXPECT_EQ(set_library("planted", "/usr/bin:/bin"), -1) << "the working directory holds it";
    EXPECT_EQ(set_library("planted", "sub:/usr/bin"), -1) << "a relative entry holds it";
    EXPECT_EQ(set_library("planted", ":.:/usr/bin"), -1) << "empty and dot entries";
    const std::string absolute = (dir_ / "sub").string();
    EXPECT_EQ(set_library("sub/planted", ("/usr/bin:" + dir_.string()).c_str()), -1) << "a name with a folder";
    EXPECT_EQ(set_library("../planted", ("/usr/bin:" + absolute).c_str()), -1) << "a name leaving the folder";
    EXPECT_FALSE(fs::exists(mark_)) << "a planted library was loaded";

    // The same library under an absolute entry is found and loaded.
    EXPECT_EQ(set_library("planted", ("/usr/bin:" + absolute).c_str()), 0);
    EXPECT_TRUE(fs::exists(mark_));
}

}  // namespace
