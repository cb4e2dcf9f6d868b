// One APDU exchange through HCL_card_command_T0_T1 against the same
// exchange with a bare SCardTransmit, on the same virtual card. Run inside
// the rig with one reader (target run_reader_bench). The layer brackets each
// exchange in a PC/SC transaction of its own: begin, transmit, end, so three
// requests to pcscd where the bare exchange makes one.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <memory>
#include <string>

#include "tarvik/reader/hcl.h"
#include "bench/timing_reporter.h"
#include "tests/rig/rig_support.h"

namespace {

std::unique_ptr<kit::rig::VirtualCard> g_card;
std::string g_reader;

unsigned char kSelectMaster[] = {0x00, 0xA4, 0x02, 0x0C, 0x02, 0x3F, 0x00};

void BM_HclExchange(benchmark::State& state) {
    const int handle = HCL_open_reader(g_reader.c_str());
    if (handle != HCL_DEVICE_HANDLE) {
        state.SkipWithError("open failed");
        return;
    }
    unsigned char response[HCL_RESPONSE_MAX];
    unsigned int length = 0;
    uint16_t sw = 0;
    for (auto _ : state) {
        if (HCL_card_command_T0_T1(handle, kSelectMaster, sizeof kSelectMaster, response, &length, &sw) != 0 ||
            sw != 0x9000) {
            state.SkipWithError("exchange failed");
            break;
        }
    }
}

void BM_BareExchange(benchmark::State& state) {
    SCARDCONTEXT context = 0;
    SCARDHANDLE card = 0;
    DWORD protocol = 0;
    if (SCardEstablishContext(SCARD_SCOPE_SYSTEM, nullptr, nullptr, &context) != SCARD_S_SUCCESS ||
        SCardConnect(context, g_reader.c_str(), SCARD_SHARE_SHARED, SCARD_PROTOCOL_T0 | SCARD_PROTOCOL_T1, &card,
                     &protocol) != SCARD_S_SUCCESS) {
        state.SkipWithError("connect failed");
        return;
    }
    unsigned char response[258];
    for (auto _ : state) {
        DWORD length = sizeof response;
        if (SCardTransmit(card, SCARD_PCI_T0, kSelectMaster, sizeof kSelectMaster, nullptr, response, &length) !=
                SCARD_S_SUCCESS ||
            length != 2) {
            state.SkipWithError("exchange failed");
            break;
        }
    }
    SCardDisconnect(card, SCARD_LEAVE_CARD);
    SCardReleaseContext(context);
}

BENCHMARK(BM_HclExchange)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_BareExchange)->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    const auto readers = kit::rig::reader_entries();
    if (readers.empty()) {
        std::fprintf(stderr, "run inside the rig with one reader (KIT_RIG_READERS)\n");
        return 2;
    }
    g_reader = kit::rig::slot_name(readers.front());
    g_card = std::make_unique<kit::rig::VirtualCard>(kit::rig::port_of(0));
    if (!kit::rig::wait_for_card(g_reader, true)) {
        std::fprintf(stderr, "no card in %s\n", g_reader.c_str());
        return 1;
    }
    TimingReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    const double hcl = reporter.time_of("BM_HclExchange");
    const double bare = reporter.time_of("BM_BareExchange");
    if (hcl > 0 && bare > 0)
        std::printf("HCL exchange / bare exchange: %.2f (pcscd requests per exchange: 3 vs 1)\n", hcl / bare);
    g_card.reset();
    benchmark::Shutdown();
    return 0;
}
