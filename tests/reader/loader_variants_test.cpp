// Loaders against deliberately incomplete stand-ins. CTest runs this once
// per variant with LD_LIBRARY_PATH (and KIT_STANDIN_DIR) naming the variant's
// folder and KIT_STANDIN_VARIANT its name: "<lib>-unloadable" or
// "<lib>-no-<entry point>".
#include <gtest/gtest.h>

#include <cstdlib>
#include <map>
#include <string>

#include "tarvik/reader/outside_libraries.h"
#include "tarvik/reader/sync_omnikey.h"
#include "tests/rig/rig_support.h"

namespace {

struct Expectation {
    int result;
    const char* message;  // null: the loader says nothing for this case
};

std::string env(const char* name) {
    const char* value = std::getenv(name);
    return value ? value : "";
}

const std::map<std::string, Expectation>& expectations() {
    static const std::map<std::string, Expectation> table{
        {"scardsyn-unloadable", {-2, "LoadLibrary(scardsyn.dll) failed..."}},
        {"scardsyn-no-SCard3WBPPresentPIN", {-1, "LoadLibrary(scardsyn.dll) SLE4428PresentPIN failed..."}},
        {"scardsyn-no-SCard3WBPReadData", {-1, "LoadLibrary(scardsyn.dll) SLE4428ReadData failed..."}},
        {"scardsyn-no-SCard3WBPWriteData", {-1, "LoadLibrary(scardsyn.dll) SLE4428WriteData failed..."}},
        {"scardsyn-no-SCard3WBPChangePIN", {-1, "LoadLibrary(scardsyn.dll) SLE4428ChangePIN failed..."}},
        {"scardsyn-no-SCard3WBPCompareAndProtect",
         {-1, "LoadLibrary(scardsyn.dll) SLE4428CompareAndProtect failed..."}},
        {"scardsyn-no-SCard3WBPVerifyProtectBit", {-1, "LoadLibrary(scardsyn.dll) SLE4428VerifyProtectBit failed..."}},
        {"pteidlib-unloadable", {-2, "LoadLibrary(pteidlib.dll) failed..."}},
        {"pteidlib-no-PTEID_GetID", {-1, "LoadLibrary(pteidlib.dll) PTEID_GetID failed..."}},
        {"pteidlib-no-PTEID_GetPic", {-1, "LoadLibrary(pteidlib.dll) T_PTEID_GetPic failed..."}},
        {"pteidlib-no-PTEID_Init", {-1, "LoadLibrary(pteidlib.dll) T_PTEID_Init failed..."}},
        {"pteidlib-no-PTEID_Exit", {-1, "LoadLibrary(pteidlib.dll) pt_exit failed..."}},
        {"kelpra001-unloadable", {-1, "ERROR in load_kelpra0001_dll() while calling LoadLibrary()"}},
        {"kelpra001-no-getxmlsupportedspescreaders",
         {-2, "ERROR in load_kelpra0001_dll(), T_getxmlsupportedspescreaders getxmlsupportedspescreaders is NULL"}},
        {"spetest-unloadable", {-1, nullptr}},
        {"spetest-no-SCR_Init", {-2, nullptr}},
        {"spetest-no-SCR_VerifyPIN", {-3, nullptr}},
        {"spetest-no-SCR_ChangePIN", {-4, nullptr}},
    };
    return table;
}

// Runs the loader the variant belongs to; true when nothing was published.
int load(const std::string& variant, bool* nothing_published) {
    const std::string library = variant.substr(0, variant.find('-'));
    if (library == "scardsyn") {
        SyncOmnikey sync;
        const int result = sync.load_omnikey_dll();
        const auto& e = scardsyn_entry_points();
        *nothing_published = !e.SCard3WBPPresentPIN && !e.SCard3WBPReadData && !e.SCard3WBPWriteData &&
                             !e.SCard3WBPChangePIN && !e.SCard3WBPCompareAndProtect && !e.SCard3WBPVerifyProtectBit;
        return result;
    }
    if (library == "pteidlib") {
        const int result = load_mw_portugal_dll();
        const auto& e = pteid_entry_points();
        *nothing_published = !e.PTEID_GetID && !e.PTEID_GetPic && !e.PTEID_Init && !e.PTEID_Exit;
        return result;
    }
    if (library == "kelpra001") {
        const int result = load_kelpra0001_dll();
        *nothing_published = !kelpra_entry_points().getxmlsupportedspescreaders;
        return result;
    }
    const int result = load_spe_reader_dll((env("KIT_STANDIN_DIR") + "/libspetest.so").c_str());
    const auto& e = spe_entry_points();
    *nothing_published = !e.SCR_Init && !e.SCR_VerifyPIN && !e.SCR_ChangePIN;
    return result;
}

}  // namespace

TEST(IncompleteStandin, GivesItsLoaderCodeAndMessage) {
    const std::string variant = env("KIT_STANDIN_VARIANT");
    const auto found = expectations().find(variant);
    ASSERT_NE(found, expectations().end()) << "unknown variant '" << variant << "'";
    kit::rig::TraceCapture trace;
    bool nothing_published = false;
    EXPECT_EQ(load(variant, &nothing_published), found->second.result);
    EXPECT_TRUE(nothing_published);
    const std::string text = trace.text();
    if (found->second.message) {
        EXPECT_NE(text.find(found->second.message), std::string::npos) << text;
    }
    if (variant.ends_with("-unloadable")) {
        EXPECT_NE(text.find("kit_standin_symbol_defined_nowhere"), std::string::npos) << text;  // dlerror
    }
    EXPECT_EQ(text.find("OK !!!"), std::string::npos);
    EXPECT_EQ(text.find("EXITING: "), std::string::npos);
}
