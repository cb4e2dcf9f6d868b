// Allocation failures, forced by capping what the process may allocate: a
// resource limit in the plain build, the sanitizer's allocation cap (set in
// CMakeLists.txt) under AddressSanitizer.
#include "tarvik/engine/eid_records.h"

#include <gtest/gtest.h>

#include <sys/resource.h>

namespace {

// Far above the cap; the source is small, so a wrongly successful allocation
// would be caught by the read past the source.
constexpr int32_t kHuge = 512 << 20;

class AllocationCap : public ::testing::Test {
protected:
    void SetUp() override {
#ifndef __SANITIZE_ADDRESS__
        ASSERT_EQ(getrlimit(RLIMIT_DATA, &saved_), 0);
        rlimit capped{rlim_t{256} << 20, saved_.rlim_max};
        ASSERT_EQ(setrlimit(RLIMIT_DATA, &capped), 0);
#endif
    }
    void TearDown() override {
#ifndef __SANITIZE_ADDRESS__
        setrlimit(RLIMIT_DATA, &saved_);
#endif
    }
    rlimit saved_{};
};

const unsigned char kSmall[8] = {1, 2, 3, 4, 5, 6, 7, 8};

TEST_F(AllocationCap, FillingFormsFailAndLeaveThePairEmpty) {
    S_EID_DATA d;
    init_S_EID_DATA(&d);
    EXPECT_EQ(init_S_EID_DATA(&d, kSmall, kHuge, kSmall, 2), -1);
    EXPECT_EQ(d.dta, nullptr);
    EXPECT_EQ(d.dta_len, 0u);
    free_S_EID_DATA(&d);

    S_EID_CERT c;
    init_S_EID_CERT(&c);
    EXPECT_EQ(init_S_EID_CERT(&c, kSmall, kHuge, 2, nullptr, 0), -1);
    EXPECT_EQ(c.crt, nullptr);
    EXPECT_EQ(c.crt_len, 0u);
    free_S_EID_CERT(&c);
}

TEST_F(AllocationCap, CopyFailsAndLeavesTheCopyEmpty) {
    unsigned char byte = 9;
    const S_EID_DATA source{0, nullptr, static_cast<uint32_t>(kHuge), &byte};
    S_EID_DATA copy;
    init_S_EID_DATA(&copy);
    ASSERT_EQ(init_S_EID_DATA(&copy, kSmall, 8, nullptr, 0), 0);
    EXPECT_EQ(copy_S_EID_DATA(&source, &copy), -1);
    EXPECT_EQ(copy.dta, nullptr);
    EXPECT_EQ(copy.dta_len, 0u);
}

}  // namespace
