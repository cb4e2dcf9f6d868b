// One offline public-data verification (everything read, saved and
// checked) against the virtual eID card, beside a bare replay of the same
// APDUs with pcsc-lite. Run inside the rig with one reader (target
// run_public_data_bench). Reports the APDUs of one transaction, the share of
// its time spent in the prescribed 20 ms pauses, and the time outside the
// pauses as a ratio to the bare replay.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "tarvik/engine/eid_card_files.h"
#include "tarvik/engine/eid_engine.h"
#include "tarvik/engine/eid_public_transactions.h"
#include "tarvik/engine/eid_session.h"
#include "tarvik/reader/hcl.h"
#include "bench/timing_reporter.h"
#include "tests/rig/rig_support.h"

namespace {

std::unique_ptr<kit::rig::VirtualCard> g_card;
std::string g_reader;
std::vector<std::vector<unsigned char>> g_apdus;  // one transaction's commands
int g_pauses = 0;                                 // its 20 ms pauses

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

std::vector<unsigned char> bytes_of_hex(const std::string& hex) {
    std::vector<unsigned char> bytes;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2)
        bytes.push_back(static_cast<unsigned char>(std::stoi(hex.substr(i, 2), nullptr, 16)));
    return bytes;
}

// The commands of one transaction from the card's log, and its pauses: one
// per READ BINARY block but the repeats after 6Cxx, and one per SELECT of
// the card check.
void learn_one_transaction(const std::string& log) {
    std::istringstream lines(log);
    for (std::string line; std::getline(lines, line);) {
        if (line.rfind("APDU ", 0) != 0) continue;
        const auto arrow = line.find(" -> ");
        const std::string command = line.substr(5, arrow - 5);
        const std::string reply = line.substr(arrow + 4);
        g_apdus.push_back(bytes_of_hex(command));
        if (command.rfind("00B0", 0) == 0 && reply.rfind("6C", reply.size() - 4) != reply.size() - 4) ++g_pauses;
    }
    g_pauses += 3;
}

void BM_PublicDataVerification(benchmark::State& state) {
    for (auto _ : state) {
        if (verify_once() != 0) {
            state.SkipWithError("verification failed");
            break;
        }
    }
    state.counters["apdus"] = static_cast<double>(g_apdus.size());
    state.counters["pause_ms"] = g_pauses * EID_PAUSE_MS;
}

void BM_BareReplay(benchmark::State& state) {
    SCARDCONTEXT context = 0;
    SCARDHANDLE card = 0;
    DWORD protocol = 0;
    if (SCardEstablishContext(SCARD_SCOPE_SYSTEM, nullptr, nullptr, &context) != SCARD_S_SUCCESS ||
        SCardConnect(context, g_reader.c_str(), SCARD_SHARE_SHARED, SCARD_PROTOCOL_T0 | SCARD_PROTOCOL_T1, &card,
                     &protocol) != SCARD_S_SUCCESS) {
        state.SkipWithError("connect failed");
        return;
    }
    const SCARD_IO_REQUEST* pci = protocol == SCARD_PROTOCOL_T1 ? SCARD_PCI_T1 : SCARD_PCI_T0;
    unsigned char response[258];
    for (auto _ : state) {
        SCardBeginTransaction(card);
        for (const auto& apdu : g_apdus) {
            DWORD length = sizeof response;
            if (SCardTransmit(card, pci, apdu.data(), static_cast<DWORD>(apdu.size()), nullptr, response, &length) !=
                SCARD_S_SUCCESS) {
                state.SkipWithError("exchange failed");
                break;
            }
        }
        SCardEndTransaction(card, SCARD_LEAVE_CARD);
    }
    state.counters["apdus"] = static_cast<double>(g_apdus.size());
    SCardDisconnect(card, SCARD_LEAVE_CARD);
    SCardReleaseContext(context);
}

BENCHMARK(BM_PublicDataVerification)->Unit(benchmark::kMillisecond)->Iterations(10);
BENCHMARK(BM_BareReplay)->Unit(benchmark::kMillisecond)->Iterations(10);

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    const auto readers = kit::rig::reader_entries();
    if (readers.empty()) {
        std::fprintf(stderr, "run inside the rig with one reader (KIT_RIG_READERS)\n");
        return 2;
    }
    g_reader = kit::rig::slot_name(readers.front());
    const std::string pki = kit::rig::scratch_dir() + "/pki";
    const std::string data = kit::rig::scratch_dir() + "/data/";
    std::filesystem::create_directories(data);
    if (!kit::rig::make_test_pki(pki)) return 1;
    g_card = std::make_unique<kit::rig::VirtualCard>(kit::rig::port_of(0), std::vector<std::string>{"--pki", pki});
    if (!kit::rig::wait_for_card(g_reader, true) || eidOpenReader(g_reader.c_str()) != HCL_DEVICE_HANDLE) {
        std::fprintf(stderr, "no card in %s\n", g_reader.c_str());
        return 1;
    }
    eidInit(no_server, data.c_str());
    if (verify_once() != 0) {
        std::fprintf(stderr, "the verification fails on the card\n");
        return 1;
    }
    learn_one_transaction(g_card->log());
    TimingReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    const double verify = reporter.time_of("BM_PublicDataVerification");
    const double replay = reporter.time_of("BM_BareReplay");
    const double pauses = g_pauses * EID_PAUSE_MS;
    if (verify > 0 && replay > 0) {
        std::printf("APDUs per transaction: %zu; pauses: %d x %d ms = %.0f ms (%.0f%% of %.1f ms)\n", g_apdus.size(),
                    g_pauses, EID_PAUSE_MS, pauses, 100.0 * pauses / verify, verify);
        std::printf("time outside the pauses / bare replay: %.1f ms / %.1f ms = %.2f\n", verify - pauses, replay,
                    (verify - pauses) / replay);
    }
    g_card.reset();
    benchmark::Shutdown();
    return 0;
}
