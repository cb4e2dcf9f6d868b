// A native host that reads cards through libselvane.so as a user program
// would: it lists the readers, and in each reader that holds a card reads
// it: an eID card's identity, address and photo (saved to a file), or a SIS
// card's two data areas on a reader whose name holds "OMNIKEY". One direct
// PC/SC call tells a missing PC/SC service from an empty reader list.
//
//   kit-demo [--photo FILE] [--wait SECONDS]
//
// --photo: where the eID photo goes (default "eid-photo.jpg"); --wait: how
// long to wait for a card in each reader (default 0). Exit status 0 when a
// card was read, 1 when there is no PC/SC service, no reader or no card, 2
// on a bad command line.
#include <PCSC/winscard.h>
#include <stdlib.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <memory>
#include <optional>
#include <span>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/file_writer.h"
#include "selvane.h"

namespace {

constexpr const char kUsage[] =
    "usage: kit-demo [--photo FILE] [--wait SECONDS]\n"
    "Lists the PC/SC readers and reads the card in each: an eID card's identity,\n"
    "address and photo, or a SIS card on a reader whose name holds \"OMNIKEY\".\n"
    "  --photo FILE     where the eID photo goes (default eid-photo.jpg)\n"
    "  --wait SECONDS   how long to wait for a card in each reader (default 0)\n";

struct Options {
    std::string photo_path = "eid-photo.jpg";
    int wait_seconds = 0;
};

// The options, or the exit status of --help (0) or of a bad command line (2).
std::optional<Options> parse(int argc, char** argv, int& status) {
    Options options;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            std::cout << kUsage;
            status = 0;
            return std::nullopt;
        }
        status = 2;
        if (arg != "--photo" && arg != "--wait") {
            std::cerr << "kit-demo: " << (arg.starts_with("-") ? "unknown option " : "unexpected argument ") << arg
                      << " (see kit-demo --help)\n";
            return std::nullopt;
        }
        // An option never stands in for a value.
        if (i + 1 >= argc || std::string(argv[i + 1]).starts_with("--")) {
            std::cerr << "kit-demo: " << arg << " needs a value\n";
            return std::nullopt;
        }
        const std::string value = argv[++i];
        if (arg == "--photo") {
            options.photo_path = value;
            continue;
        }
        char* end = nullptr;
        const long seconds = std::strtol(value.c_str(), &end, 10);
        if (value.empty() || *end != '\0' || seconds < 0 || seconds > 3600) {
            std::cerr << "kit-demo: --wait takes whole seconds (0 to 3600)\n";
            return std::nullopt;
        }
        options.wait_seconds = static_cast<int>(seconds);
    }
    return options;
}

// Whether a PC/SC service answers: the SDK's reader list is empty both
// when pcscd is not running and when no reader is attached.
bool pcsc_service_running() {
    SCARDCONTEXT context = 0;
    if (SCardEstablishContext(SCARD_SCOPE_SYSTEM, nullptr, nullptr, &context) != SCARD_S_SUCCESS) return false;
    SCardReleaseContext(context);
    return true;
}

// The SDK records the opened reader in "sisreader.txt" in $APPDATA, else in
// the current directory. When APPDATA is unset the demo points it at a
// folder of its own for the run, so nothing lands where it was started.
class ScratchAppData {
public:
    ScratchAppData() {
        if (std::getenv("APPDATA")) return;
        std::string pattern = (std::filesystem::temp_directory_path() / "kit-demo.XXXXXX").string();
        if (!mkdtemp(pattern.data())) return;
        folder_ = pattern;
        setenv("APPDATA", folder_.c_str(), 1);
    }
    ~ScratchAppData() {
        if (folder_.empty()) return;
        std::error_code ignored;
        std::filesystem::remove_all(folder_, ignored);
        unsetenv("APPDATA");
    }
    ScratchAppData(const ScratchAppData&) = delete;
    ScratchAppData& operator=(const ScratchAppData&) = delete;

private:
    std::string folder_;
};

std::vector<std::string> list_readers() {
    char devices[SELVANE_DEVICES_SIZE] = "";
    const int32_t result = PCSC_Get_devices(SELVANE_MODE_LINES, devices);
    if (result != 0) {
        std::cout << "reader list failed: " << result << "\n";
        return {};
    }
    std::vector<std::string> names;
    std::istringstream lines(devices);
    for (std::string name; std::getline(lines, name);)
        if (!name.empty()) names.push_back(name);
    return names;
}

// The ATR when the reader holds a powered card, else empty.
std::string card_atr(const Options& options) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(options.wait_seconds);
    for (;;) {
        int32_t powered = 0, removed = 1, atr_len = 0;
        unsigned char atr[SELVANE_ATR_SIZE] = {};
        if (PCSC_Reader_Status(0, &powered, &removed, atr, &atr_len) == 0 && !removed && atr_len > 0) {
            std::string hex;
            char pair[4];
            for (int32_t i = 0; i < atr_len && i < SELVANE_ATR_SIZE; ++i) {
                std::snprintf(pair, sizeof pair, "%02X ", atr[i]);
                hex += pair;
            }
            hex.pop_back();  // the blank after the last byte
            return hex;
        }
        if (std::chrono::steady_clock::now() >= deadline) return {};
        std::this_thread::sleep_for(std::chrono::milliseconds(250));
    }
}

void indent(const char* title, const std::string& text) {
    std::cout << "  " << title << ":\n";
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) std::cout << "    " << line << "\n";
}

void read_sis_card() {
    char isdf[SELVANE_SIS_TEXT_SIZE] = "", pbdf[SELVANE_SIS_TEXT_SIZE] = "";
    const int32_t result = PCSC_SIS_Read(0, SELVANE_MODE_LINES, isdf, pbdf);
    if (result != 1) {
        std::cout << "  SIS read failed: " << result << "\n";
        return;
    }
    indent("SIS card, ISDF", isdf);
    indent("SIS card, PBDF", pbdf);
}

void read_eid_card(const Options& options) {
    auto identity = std::make_unique<char[]>(SELVANE_EID_ID_TEXT_SIZE);
    auto address = std::make_unique<char[]>(SELVANE_EID_ADDRESS_TEXT_SIZE);
    auto photo = std::make_unique<unsigned char[]>(SELVANE_PHOTO_SIZE);
    int32_t photo_len = 0;
    const int32_t result =
        PCSC_EID_Read(0, SELVANE_MODE_LINES, identity.get(), address.get(), photo.get(), &photo_len);
    if (result != 0) {
        std::cout << "  eID read failed: " << result << "\n";
        return;
    }
    indent("eID identity", identity.get());
    indent("eID address", address.get());
    // The kit's own writer: no link at the name is followed, nothing but a
    // regular file is written, and a failed write or close shows.
    const bool written = kit::platform::write_file(options.photo_path,
                                                   std::span(photo.get(), static_cast<std::size_t>(photo_len))) ==
                         kit::platform::WriteResult::written;
    std::cout << "  eID photo: " << photo_len << " bytes"
              << (written ? " written to " + options.photo_path : " (could not write " + options.photo_path + ")")
              << "\n";
}

}  // namespace

int main(int argc, char** argv) {
    int status = 0;
    const auto options = parse(argc, argv, status);
    if (!options) return status;
    if (!pcsc_service_running()) {
        std::cerr << "kit-demo: no PC/SC service running (start pcscd, e.g. systemctl start pcscd)\n";
        return 1;
    }
    const ScratchAppData app_data;
    const auto readers = list_readers();
    if (readers.empty()) {
        std::cerr << "kit-demo: no readers (the PC/SC service runs but reports no reader)\n";
        return 1;
    }
    std::cout << "Readers (" << readers.size() << "):\n";
    for (const auto& name : readers) std::cout << "  " << name << "\n";

    int cards = 0;
    for (const auto& name : readers) {
        std::cout << "\n[" << name << "]\n";
        const int32_t handle = PCSC_Open_device(name.c_str());
        if (handle <= 0) {
            std::cout << "  open failed: " << handle << "\n";
            continue;
        }
        const std::string atr = card_atr(*options);
        if (atr.empty()) {
            std::cout << "  no card\n";
            continue;
        }
        std::cout << "  card ATR: " << atr << "\n";
        ++cards;
        if (name.find("OMNIKEY") != std::string::npos) read_sis_card();
        else read_eid_card(*options);
    }
    if (cards == 0) std::cout << "\nNo card found.\n";
    return cards > 0 ? 0 : 1;
}
