// One offline public-data verification (everything read, saved and
// checked) against the virtual eID card, beside its floor: a replay of the
// same APDUs with bare pcsc-lite, with the same 20 ms pauses, the same two
// status reads and the same two PC/SC transactions. Kit and floor alternate
// for a number of rounds; the figure is the median of
//   (kit time - pauses) / (floor time - pauses).
// Fails when the APDUs or pauses of one transaction are not the sequence the
// card files and the request masks call for.
//
// Run inside the rig with one reader: cmake --build build --target
// run_public_data_bench. Options: --rounds N (at least 5, default 7);
// --heap N also runs N more transactions and reports the heap in use before
// and after them (target run_public_data_heap, which turns malloc's
// per-thread cache off: the blocks it keeps count as in use).
#include <malloc.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "platform/sleep.h"
#include "tarvik/engine/eid_card_files.h"
#include "tarvik/engine/eid_engine.h"
#include "tarvik/engine/eid_public_transactions.h"
#include "tarvik/engine/eid_session.h"
#include "tarvik/reader/hcl.h"
#include "tests/rig/rig_support.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kCheckSelects = 3;  // the card check's own transaction

struct Step {
    std::string command;  // hex
    bool pause = false;   // a 20 ms pause follows it
};

int no_server(unsigned char*, int, unsigned char*, int* reply_len) {
    *reply_len = 0;
    return 0;
}

int verify_once() {
    S_EID_FUNCTION_INPUT in{};
    S_EID_FUNCTION_OUTPUT out{};
    init_S_EID_FUNCTION_INPUT(&in);
    init_S_EID_FUNCTION_OUTPUT(&out);
    in.function_id = PUB_DATA_VER_OFFLINE;
    const int32_t masks[EID_REQUEST_MASKS] = {0x20000, 0x7FFF, 0, 0x80000, 0x7FFF, 0x7FFF, 0x7FFF, 0x7FFF, 0x7FFF, 0x7FFF};
    std::memcpy(in.request_mask, masks, sizeof masks);
    const int result = eidPubDataVerify(HCL_DEVICE_HANDLE, &in, &out);
    free_S_EID_FUNCTION_INPUT(&in);
    free_S_EID_FUNCTION_OUTPUT(&out);
    return result;
}

std::string hex(std::size_t value, int digits) {
    char text[16];
    std::snprintf(text, sizeof text, "%0*zX", digits, value);
    return text;
}

std::vector<unsigned char> bytes_of_hex(const std::string& text) {
    std::vector<unsigned char> bytes;
    for (std::size_t i = 0; i + 1 < text.size(); i += 2)
        bytes.push_back(static_cast<unsigned char>(std::stoi(text.substr(i, 2), nullptr, 16)));
    return bytes;
}

bool is_read_binary(const std::string& command) { return command.rfind("00B0", 0) == 0; }

// The steps of one transaction from the card's log: a pause after each
// SELECT of the card check and after each READ BINARY block, but none after
// the command repeated with the length a 6Cxx answer gave.
std::vector<Step> steps_in(const std::string& log) {
    std::vector<Step> steps;
    std::string previous_reply;
    std::istringstream lines(log);
    for (std::string line; std::getline(lines, line);) {
        if (line.rfind("APDU ", 0) != 0) continue;
        const auto arrow = line.find(" -> ");
        const std::string command = line.substr(5, arrow - 5);
        const std::string reply = line.substr(arrow + 4);
        const bool repeat = !steps.empty() && is_read_binary(steps.back().command) &&
                            previous_reply.size() >= 4 && previous_reply.compare(previous_reply.size() - 4, 2, "6C") == 0;
        const bool pause = steps.size() < kCheckSelects || (is_read_binary(command) && !repeat);
        steps.push_back({command, pause});
        previous_reply = reply;
    }
    return steps;
}

// The sequence the bench's request masks call for on a card with these
// files: the card check, the five data files in row order (identity,
// address, photo, the two signatures) and the five certificates.
std::vector<Step> expected_steps(const std::string& pki) {
    auto select = [](int fid) { return Step{"00A4020C02" + hex(static_cast<std::size_t>(fid), 4), false}; };
    std::vector<Step> steps;
    for (int fid : {0x3F00, 0xDF01, 0x4031}) steps.push_back({select(fid).command, true});
    auto read_file = [&](int df, int fid, const std::string& name) {
        for (int f : {0x3F00, df, fid}) steps.push_back(select(f));
        const std::size_t size = std::filesystem::file_size(pki + "/" + name);
        std::size_t offset = 0;
        for (; offset + 128 <= size; offset += 128) steps.push_back({"00B0" + hex(offset, 4) + "80", true});
        steps.push_back({"00B0" + hex(offset, 4) + "80", true});
        if (size % 128 != 0) steps.push_back({"00B0" + hex(offset, 4) + hex(size % 128, 2), false});
    };
    read_file(0xDF01, 0x4031, "identity.bin");
    read_file(0xDF01, 0x4033, "address.bin");
    read_file(0xDF01, 0x4035, "photo.jpg");
    read_file(0xDF01, 0x4032, "identity.sig");
    read_file(0xDF01, 0x4034, "address.sig");
    read_file(0xDF00, 0x5038, "auth.der");
    read_file(0xDF00, 0x5039, "sign.der");
    read_file(0xDF00, 0x503A, "ca.der");
    read_file(0xDF00, 0x503B, "root.der");
    read_file(0xDF00, 0x503C, "rrn.der");
    return steps;
}

bool same_steps(const std::vector<Step>& a, const std::vector<Step>& b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(),
                      [](const Step& x, const Step& y) { return x.command == y.command && x.pause == y.pause; });
}

int pauses_in(const std::vector<Step>& steps) {
    return static_cast<int>(std::count_if(steps.begin(), steps.end(), [](const Step& s) { return s.pause; }));
}

// The floor: what the kit asks of pcsc-lite for one transaction, and
// nothing else.
class Floor {
public:
    explicit Floor(const std::string& reader, const std::vector<Step>& steps) {
        for (const auto& s : steps) steps_.push_back({bytes_of_hex(s.command), s.pause});
        DWORD protocol = 0;
        ok_ = SCardEstablishContext(SCARD_SCOPE_SYSTEM, nullptr, nullptr, &context_) == SCARD_S_SUCCESS &&
              SCardConnect(context_, reader.c_str(), SCARD_SHARE_SHARED, SCARD_PROTOCOL_T0 | SCARD_PROTOCOL_T1, &card_,
                           &protocol) == SCARD_S_SUCCESS;
    }
    ~Floor() {
        if (card_) SCardDisconnect(card_, SCARD_LEAVE_CARD);
        if (context_) SCardReleaseContext(context_);
    }
    Floor(const Floor&) = delete;
    Floor& operator=(const Floor&) = delete;

    bool replay() {
        if (!ok_) return false;
        for (int i = 0; i < 2; ++i) {  // the card check reads the status twice
            char name[1024];
            DWORD name_len = sizeof name, state = 0, protocol = 0, atr_len = 64;
            unsigned char atr[64];
            if (SCardStatus(card_, name, &name_len, &state, &protocol, atr, &atr_len) != SCARD_S_SUCCESS) return false;
        }
        return run(0, kCheckSelects) && run(kCheckSelects, steps_.size());
    }

private:
    struct Command {
        std::vector<unsigned char> bytes;
        bool pause;
    };

    bool run(std::size_t from, std::size_t to) {
        if (SCardBeginTransaction(card_) != SCARD_S_SUCCESS) return false;
        bool ok = true;
        for (std::size_t i = from; ok && i < to; ++i) {
            unsigned char response[1024];
            DWORD length = sizeof response;
            ok = SCardTransmit(card_, SCARD_PCI_T0, steps_[i].bytes.data(), static_cast<DWORD>(steps_[i].bytes.size()),
                               nullptr, response, &length) == SCARD_S_SUCCESS;
            if (steps_[i].pause) kit::platform::sleep_ms(EID_PAUSE_MS);
        }
        SCardEndTransaction(card_, SCARD_LEAVE_CARD);
        return ok;
    }

    SCARDCONTEXT context_ = 0;
    SCARDHANDLE card_ = 0;
    bool ok_ = false;
    std::vector<Command> steps_;
};

template <typename F>
double milliseconds_of(F&& f, bool* ok) {
    const auto start = Clock::now();
    *ok = f();
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const std::size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

int option(int argc, char** argv, const char* name, int fallback) {
    for (int i = 1; i + 1 < argc; ++i)
        if (std::strcmp(argv[i], name) == 0) return std::atoi(argv[i + 1]);
    return fallback;
}

// Heap in use (malloc's count) before and after `count` transactions.
int measure_heap(int count) {
    const std::size_t before = mallinfo2().uordblks;
    for (int i = 0; i < count; ++i)
        if (verify_once() != 0) {
            std::fprintf(stderr, "transaction %d failed\n", i + 1);
            return 1;
        }
    const std::size_t after = mallinfo2().uordblks;
    std::printf("heap in use before %d transactions: %zu bytes\n", count, before);
    std::printf("heap in use after %d transactions: %zu bytes\n", count, after);
    std::printf("heap growth per transaction: %.1f bytes\n",
                (static_cast<double>(after) - static_cast<double>(before)) / count);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    const int rounds = std::max(5, option(argc, argv, "--rounds", 7));
    const int heap_transactions = option(argc, argv, "--heap", 0);
    const auto readers = kit::rig::reader_entries();
    if (readers.empty()) {
        std::fprintf(stderr, "run inside the rig with one reader (KIT_RIG_READERS)\n");
        return 2;
    }
    const std::string reader = kit::rig::slot_name(readers.front());
    const std::string pki = kit::rig::scratch_dir() + "/pki";
    const std::string data = kit::rig::scratch_dir() + "/data/";
    std::filesystem::create_directories(data);
    if (!kit::rig::make_test_pki(pki)) return 1;
    kit::rig::VirtualCard card(kit::rig::port_of(0), {"--pki", pki});
    if (!kit::rig::wait_for_card(reader, true) || eidOpenReader(reader.c_str()) != HCL_DEVICE_HANDLE) {
        std::fprintf(stderr, "no card in %s\n", reader.c_str());
        return 1;
    }
    eidInit(no_server, data.c_str());
    if (verify_once() != 0) {
        std::fprintf(stderr, "the verification fails on the card\n");
        return 1;
    }
    const std::vector<Step> steps = steps_in(card.log());
    const std::vector<Step> expected = expected_steps(pki);
    const int pauses = pauses_in(steps);
    std::printf("APDUs per transaction: %zu (expected %zu)\n", steps.size(), expected.size());
    std::printf("pauses per transaction: %d (expected %d) x %d ms\n", pauses, pauses_in(expected), EID_PAUSE_MS);
    if (!same_steps(steps, expected)) {
        std::fprintf(stderr, "the transaction's APDUs or pauses differ from the expected sequence\n");
        return 1;
    }

    Floor floor(reader, steps);
    const double pause_ms = pauses * EID_PAUSE_MS;
    std::vector<double> kit_ms, floor_ms, ratios;
    for (int round = 0; round < rounds; ++round) {
        bool kit_ok = false, floor_ok = false;
        kit_ms.push_back(milliseconds_of([] { return verify_once() == 0; }, &kit_ok));
        floor_ms.push_back(milliseconds_of([&] { return floor.replay(); }, &floor_ok));
        if (!kit_ok || !floor_ok) {
            std::fprintf(stderr, "round %d: the %s failed\n", round + 1, kit_ok ? "floor replay" : "verification");
            return 1;
        }
        ratios.push_back((kit_ms.back() - pause_ms) / (floor_ms.back() - pause_ms));
    }
    std::printf("rounds: %d\n", rounds);
    std::printf("PEM files written under: %s\n", data.c_str());
    std::printf("kit time (median): %.1f ms\n", median(kit_ms));
    std::printf("floor time (median): %.1f ms\n", median(floor_ms));
    std::printf("kit time outside the pauses (median): %.1f ms\n", median(kit_ms) - pause_ms);
    std::printf("floor time outside the pauses (median): %.1f ms\n", median(floor_ms) - pause_ms);
    std::printf("floor ratio: %.3f\n", median(ratios));
    std::fflush(stdout);
    return heap_transactions > 0 ? measure_heap(heap_transactions) : 0;
}
