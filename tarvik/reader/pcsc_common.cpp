#include "tarvik/reader/pcsc_common.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <cstring>
#include <ctime>
#include <memory>
#include <string>
#include <string_view>

#include "orvel.h"
#include "platform/markup_text.h"
#include "platform/sleep.h"
#include "tarvik/reader/begin_waiter.h"
#include "tarvik/reader/status_read.h"
#include "tarvik/reader/outside_interfaces.h"
#include "tarvik/reader/card_turns.h"
#include "tarvik/reader/pcsc_availability.h"
#include "tarvik/reader/pcsc_result.h"
#include "platform/secret_wipe.h"
#include "tarvik/reader/sync_omnikey.h"

using tarvik::reader::card_removed;
using tarvik::reader::kSuccess;
using tarvik::reader::narrow;
using tarvik::reader::StatusCalls;

namespace {

constexpr int kRetryWaitMs = 250;
constexpr int kSle4418 = 4418;

void trace(const char* function, const char* message, const char* file = __builtin_FILE(),
           int line = __builtin_LINE()) {
    __tracef(ORVEL_DEBUG, function, file, line, "%s", message);
}

// Releases a listing context and the list PC/SC allocated for it.
struct ListingContext {
    SCARDCONTEXT context = 0;
    char* list = nullptr;
    bool established = false;
    ~ListingContext() {
        if (list) SCardFreeMemory(context, list);
        if (established) SCardReleaseContext(context);
    }
};

std::string format_reader_list(int mode, const char* list) {
    std::string text;
    if (mode == 1) text = "<?xml version=\"1.0\" encoding=\"iso-8859-1\"?><PCSC_Get_devices>";
    for (const char* name = list; *name; name += std::strlen(name) + 1) {
        if (mode == 1) {
            text.append("<reader>");
            kit::platform::append_xml_escaped(text, name);
            text.append("</reader>");
        } else
            text.append(name).append("\n");
    }
    if (mode == 1) text += "</PCSC_Get_devices>";
    return text;
}

bool status_says_absent(int32_t result) {
    return result == narrow(SCARD_E_READER_UNAVAILABLE) || card_removed(result);
}

}  // namespace

Pcsc_Common::~Pcsc_Common() { delete sync_omnikey; }

int Pcsc_Common::getReaders(int mode, char* text) {
    constexpr const char* kName = "Pcsc_Common::getReaders";
    trace(kName, kName);
    if (!text) return narrow(SCARD_E_INVALID_PARAMETER);
    if (!tarvik::reader::pcsc_usable()) return narrow(SCARD_E_NO_SERVICE);
    ListingContext listing;
    const int32_t established = narrow(SCardEstablishContext(SCARD_SCOPE_USER, nullptr, nullptr, &listing.context));
    if (established != kSuccess) {
        __tracef(ORVEL_DEBUG, kName, __FILE__, __LINE__,
                 "ERROR in Pcsc_Common::getReaders() while calling SCardEstablishContext(). Error code: %d", established);
        return established;
    }
    listing.established = true;
    DWORD length = SCARD_AUTOALLOCATE;
    const int32_t listed =
        narrow(SCardListReaders(listing.context, nullptr, reinterpret_cast<LPSTR>(&listing.list), &length));
    if (listed == narrow(SCARD_E_NO_READERS_AVAILABLE)) return -1;
    if (listed != kSuccess) return listed;
    const std::string addition = format_reader_list(mode, listing.list);
    const std::size_t held = strnlen(text, kReaderListMax);
    if (held + addition.size() >= kReaderListMax) return narrow(SCARD_E_INSUFFICIENT_BUFFER);
    std::memcpy(text + held, addition.c_str(), addition.size() + 1);
    return 1;
}

void Pcsc_Common::releaseConnection() {
    if (card != 0) SCardDisconnect(card, SCARD_LEAVE_CARD);
    card = 0;
    transaction_held = 0;
    if (context != 0 && context != static_cast<SCARDCONTEXT>(-1)) SCardReleaseContext(context);
    context = 0;
}

void Pcsc_Common::forgetConnection() noexcept {
    context = 0;
    card = 0;
    transaction_held = 0;
}

int Pcsc_Common::openReader(const char* name) {
    constexpr const char* kName = "Pcsc_Common::openReader";
    trace(kName, kName);
    if (tarvik::reader::pcsc_usable())
        releaseConnection();
    else
        forgetConnection();  // no PC/SC call may be made now
    reader_kind = 0;
    if (!name) return -1;
    context = static_cast<SCARDCONTEXT>(-1);
    std::memset(reader_name, 0, sizeof reader_name);
    std::memcpy(reader_name, name, strnlen(name, sizeof reader_name - 1));
    if (!tarvik::reader::pcsc_usable() ||
        SCardEstablishContext(SCARD_SCOPE_SYSTEM, nullptr, nullptr, &context) != SCARD_S_SUCCESS) {
        trace(kName, "ERROR in Pcsc_Common::openReader() while calling SCardEstablishContext()");
        context = 0;
        return -2;
    }
    const int32_t connected = connect();
    if (connected != kSuccess && !card_removed(connected)) {
        __tracef(ORVEL_DEBUG, kName, __FILE__, __LINE__, "ERROR in Pcsc_Common::openReader() while calling "
                 "SCardConnect(). Error code: %d", connected);
        releaseConnection();
        return -1;
    }
    const std::string_view opened(reader_name);
    if (opened.find("Cherry") != std::string_view::npos || opened.find("OMNIKEY") != std::string_view::npos)
        reader_kind = kReaderKindSync;
    else if (opened.find("ACS") != std::string_view::npos)
        reader_kind = kReaderKindAcs;
    return 0;
}

int32_t Pcsc_Common::connect() {
    if (!tarvik::reader::pcsc_usable()) return narrow(SCARD_E_NO_SERVICE);
    SCARDHANDLE handle = 0;
    const int32_t result = tarvik::reader::connect_card(context, reader_name, &handle);
    if (result == kSuccess) {
        card = handle;
        transaction_held = 0;  // a new connection holds none
    }
    return result;
}

int32_t Pcsc_Common::reconnect() {
    if (!tarvik::reader::pcsc_usable()) return narrow(SCARD_E_NO_SERVICE);
    return tarvik::reader::reconnect_card(card);
}

int Pcsc_Common::applyStatus(const StatusCalls& calls, int* powered, int* absent, unsigned char* atr,
                             unsigned int* atr_len) {
    if (calls.connected != 0) {
        card = calls.connected;
        transaction_held = 0;  // a new connection holds none
    }
    if (calls.named) {
        // PC/SC's own name for the reader replaces the one we were given.
        std::memset(reader_name, 0, sizeof reader_name);
        std::memcpy(reader_name, calls.name.data(), strnlen(calls.name.data(), sizeof reader_name - 1));
        if (atr) std::memcpy(atr, calls.atr.data(), std::min<std::size_t>(calls.atr_len, kAtrCapacity));
    }
    int result = calls.first;
    if (result == kSuccess) {
        if (card_removed(calls.again)) {
            card_absent = 1;
            card_powered = 0;
        } else if (calls.again == kSuccess) {
            switch (tarvik::reader::card_state_value(calls.state)) {
                case 1: card_absent = 1, card_powered = 0; break;
                case 2: card_absent = 0; break;
                case 3: card_absent = 0, card_powered = 0; break;
                case 4: case 5: case 6: card_absent = 0, card_powered = 1; break;
                default: break;
            }
        }
    } else if (status_says_absent(result)) {
        card_absent = 1;
        card_powered = 0;
        result = 1;
    }
    if (atr_len) *atr_len = static_cast<unsigned int>(calls.atr_len);
    if (powered) *powered = card_powered;
    if (absent) *absent = card_absent;
    return result;
}

int Pcsc_Common::getStatus(int* powered, int* absent, unsigned char* atr, unsigned int* atr_len) {
    const StatusCalls calls = tarvik::reader::pcsc_usable()
                                  ? tarvik::reader::make_status_calls(context, card, reader_name)
                                  : StatusCalls{.first = narrow(SCARD_E_NO_SERVICE)};
    return applyStatus(calls, powered, absent, atr, atr_len);
}

int Pcsc_Common::readSyncCard(int type, int length, int address, unsigned char* buffer) {
    if (type != kSle4418) return 1;
    return readSle4418Card(static_cast<uint8_t>(length & 0xFF), address, buffer);
}

int Pcsc_Common::readSle4418Card(uint8_t length, int address, unsigned char* buffer) {
    constexpr const char* kName = "Pcsc_Common::readSle4418Card";
    trace(kName, "Pcsc_Common::readSle4418Card");
    if (reader_kind != kReaderKindSync) {
        trace(kName, "ERR_SLE4418_NOT_SUPPORTED");
        return kSyncNotSupported;
    }
    if (!sync_omnikey) {
        auto loader = std::make_unique<SyncOmnikey>();
        if (loader->load_omnikey_dll() != 0) {
            trace(kName, "ERR_SLE4418_NOT_SUPPORTED");
            return kSyncNotSupported;
        }
        sync_omnikey = loader.release();
    }
    const auto read = scardsyn_entry_points().SCard3WBPReadData;
    if (!read || !buffer || address < 0 || !tarvik::reader::pcsc_usable()) return kSyncNotSupported;
    return static_cast<int>(read(card, length, buffer, static_cast<unsigned long>(address)));
}

int Pcsc_Common::beginTransaction(int timeout_ms) {
    const std::time_t deadline = std::time(nullptr) + timeout_ms / 1000;
    if (!tarvik::reader::pcsc_usable()) return kTransactionTimeout;
    tarvik::reader::leave_card_free_if_held_long();
    tarvik::reader::BeginOutcome outcome;
    if (!awaitAttempt(*tarvik::reader::start_begin(card), deadline, &outcome)) return kTransactionTimeout;
    return grantOrRetry(outcome.result, deadline);
}

int Pcsc_Common::statusThenBegin(int timeout_ms, int* begun, int* powered, int* absent, unsigned char* atr,
                                 unsigned int* atr_len) {
    using namespace tarvik::reader;
    const std::time_t deadline = std::time(nullptr) + timeout_ms / 1000;
    *begun = kNotBegun;
    if (!pcsc_usable()) return getStatus(powered, absent, atr, atr_len);
    leave_card_free_if_held_long();
    BeginOutcome outcome;
    if (!awaitAttempt(*start_status_then_begin(context, card, reader_name), deadline, &outcome) || !outcome.status)
        return kTransactionTimeout;
    const int status = applyStatus(*outcome.status, powered, absent, atr, atr_len);
    if (outcome.begun) *begun = grantOrRetry(outcome.result, deadline);
    return status;
}

// Waits in steps, so that the deadline is seen, and gives the attempt up
// at the deadline.
bool Pcsc_Common::awaitAttempt(tarvik::reader::BeginAttempt& attempt, std::time_t deadline,
                               tarvik::reader::BeginOutcome* outcome) {
    while (!tarvik::reader::wait_for_begin(attempt, std::chrono::milliseconds(kRetryWaitMs), outcome)) {
        if (std::time(nullptr) >= deadline) {
            tarvik::reader::abandon_begin(attempt);
            return false;
        }
    }
    return true;
}

// A begin refused for another reason than the card's removal is tried
// again every kRetryWaitMs until the deadline.
int Pcsc_Common::grantOrRetry(int32_t result, std::time_t deadline) {
    for (;;) {
        if (result == kSuccess) {
            transaction_held = 1;
            return 0;
        }
        if (card_removed(result)) return kRemoved;
        kit::platform::sleep_ms(kRetryWaitMs);
        if (std::time(nullptr) >= deadline || !tarvik::reader::pcsc_usable()) return kTransactionTimeout;
        tarvik::reader::BeginOutcome outcome;
        if (!awaitAttempt(*tarvik::reader::start_begin(card), deadline, &outcome)) return kTransactionTimeout;
        result = outcome.result;
    }
}

int32_t Pcsc_Common::endOwnTransaction() {
    tarvik::reader::note_card_let_go();
    return narrow(SCardEndTransaction(card, SCARD_LEAVE_CARD));
}

// Held no longer, whatever the end answers: an end that fails because the
// card went has no transaction left to end, and a flag left set would keep
// later single exchanges from beginning one of their own.
int32_t Pcsc_Common::endTransaction() {
    transaction_held = 0;
    tarvik::reader::note_card_let_go();
    if (!tarvik::reader::pcsc_usable()) return narrow(SCARD_E_NO_SERVICE);
    return narrow(SCardEndTransaction(card, SCARD_LEAVE_CARD));
}

int32_t Pcsc_Common::transmitWithFallback(const unsigned char* command, DWORD command_len, unsigned char* response,
                                          DWORD* response_len) {
    const DWORD capacity = *response_len;
    int32_t result = narrow(SCardTransmit(card, SCARD_PCI_T0, command, command_len, nullptr, response, response_len));
    constexpr int32_t kBadCommand = 22;
    constexpr int32_t kBadStubData = 1783;
    if (result == kBadCommand || result == kBadStubData || result == narrow(SCARD_E_PROTO_MISMATCH)) {
        *response_len = capacity;
        result = narrow(SCardTransmit(card, SCARD_PCI_T1, command, command_len, nullptr, response, response_len));
    }
    return result;
}

int Pcsc_Common::transmit(const unsigned char* header, int data_len, unsigned char* data, std::size_t data_capacity,
                          unsigned int* response_len, int* sw) {
    if (!data) data_capacity = 0;
    if (!header || !response_len || !sw || data_len < 0 || data_len > kMaxCommandData ||
        (data_len > 0 && (!data || data_capacity < static_cast<std::size_t>(data_len))))
        return narrow(SCARD_E_INVALID_PARAMETER);
    std::array<unsigned char, kApduBufferSize> command{};
    const WipeOnExit wipe_command(command);  // a VERIFY carries the PIN block
    std::array<unsigned char, kApduBufferSize> response{};
    std::memcpy(command.data(), header, 5);
    if (data_len > 0) std::memcpy(command.data() + 5, data, static_cast<std::size_t>(data_len));
    DWORD received = kApduBufferSize;
    *response_len = kApduBufferSize;

    if (!tarvik::reader::pcsc_usable()) return narrow(SCARD_E_NO_SERVICE);
    const bool own = transaction_held == 0;
    if (own) {
        tarvik::reader::leave_card_free_if_held_long();
        const int32_t begun = narrow(SCardBeginTransaction(card));
        if (card_removed(begun)) return kRemoved;
        if (begun != kSuccess) return begun;
    }
    int32_t result = transmitWithFallback(command.data(), static_cast<DWORD>(data_len + 5), response.data(), &received);
    *response_len = static_cast<unsigned int>(std::min<DWORD>(received, kApduBufferSize));
    // A reply without a status word is a broken exchange, not a status; a
    // length beyond our buffer is one the library cannot have written.
    if (result == kSuccess && received < 2) result = narrow(SCARD_F_COMM_ERROR);
    if (result == kSuccess && received > response.size()) result = narrow(SCARD_E_INSUFFICIENT_BUFFER);
    const std::size_t body = received >= 2 ? received - 2 : 0;
    if (result == kSuccess && body > data_capacity) result = narrow(SCARD_E_INSUFFICIENT_BUFFER);
    if (result != kSuccess) {
        if (own) endOwnTransaction();
        return card_removed(result) ? kRemoved : result;
    }
    const int status = response[received - 2] * 256 + response[received - 1];
    *response_len = static_cast<unsigned int>(body);
    if (body > 0) std::memcpy(data, response.data(), body);
    if (own) {
        const int32_t ended = endOwnTransaction();
        if (ended != kSuccess) return ended;
    }
    *sw = status;
    return status;
}
