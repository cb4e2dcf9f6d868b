#include "selvane/pinpad.h"

#include <strings.h>

#include <cstring>
#include <utility>

#include "selvane.h"
#include "selvane/current_device.h"
#include "selvane/pinpad_interface.h"
#include "selvane/tarvik_binding.h"
#include "platform/dynamic_library.h"
#include "platform/export_guard.h"
#include "platform/library_lock.h"

namespace selvane::pinpad {

namespace {

constexpr const char kPinpadPrefix[] = "ets beid pinpad";

int32_t narrow(LONG rv) { return static_cast<int32_t>(static_cast<uint32_t>(rv)); }

using DisplayMessageFn = decltype(&ekryptobeid_display_message);
using BeepFn = decltype(&ekryptobeid_beep);

struct PinpadLibrary {
    kit::platform::DynamicLibrary library;
    DisplayMessageFn display_message = nullptr;
    BeepFn beep = nullptr;
};

// Bound by its plain name on the first call that needs it and kept until
// the process ends (atexit handlers may still call); a failed load is tried
// again on the next call. The library's lock keeps first calls of two
// threads apart.
const PinpadLibrary* pinpad_library() {
    static const PinpadLibrary* bound = nullptr;
    if (bound) return bound;
    kit::platform::DynamicLibrary library("ekryptobeid.dll", "pinpad_library");
    const auto display_message = library.function<DisplayMessageFn>("ekryptobeid_display_message");
    const auto beep = library.function<BeepFn>("ekryptobeid_beep");
    if (!display_message || !beep) return nullptr;
    bound = new PinpadLibrary{std::move(library), display_message, beep};
    return bound;
}

bool is_pinpad(const Pcsc_Common& reader) {
    const std::size_t n = sizeof kPinpadPrefix - 1;
    return strnlen(reader.reader_name, sizeof reader.reader_name) >= n &&
           strncasecmp(reader.reader_name, kPinpadPrefix, n) == 0;
}

// A direct connection for one call, released (card unpowered, context
// freed) when it ends; a context whose connect failed is freed too.
class DirectConnection {
public:
    explicit DirectConnection(const char* reader) {
        result_ = narrow(SCardEstablishContext(SCARD_SCOPE_USER, nullptr, nullptr, &context_));
        if (result_ != 0) return;
        has_context_ = true;
        DWORD protocol = 0;
        result_ = narrow(SCardConnect(context_, reader, SCARD_SHARE_DIRECT, 0, &card_, &protocol));
        connected_ = result_ == 0;
    }
    ~DirectConnection() {
        if (connected_) SCardDisconnect(card_, SCARD_UNPOWER_CARD);
        if (has_context_) SCardReleaseContext(context_);
    }
    DirectConnection(const DirectConnection&) = delete;
    DirectConnection& operator=(const DirectConnection&) = delete;

    int32_t result() const { return result_; }
    SCARDHANDLE card() const { return card_; }

private:
    SCARDCONTEXT context_ = 0;
    SCARDHANDLE card_ = 0;
    bool has_context_ = false;
    bool connected_ = false;
    int32_t result_ = 0;
};

template <typename Call>
int pinpad_call(const Pcsc_Common& reader, Call& call) {
    if (!is_pinpad(reader)) return kNotPinpad;
    const PinpadLibrary* library = pinpad_library();
    if (!library) return kNoLibrary;
    if (reader.card != 0) return call(*library, reader.card);
    DirectConnection direct(reader.readerNameCopy().data());
    if (direct.result() != 0) return direct.result();
    return call(*library, direct.card());
}

// The reader object is read, and the pinpad library called, under tarvik's
// lock: no other thread can reopen the reader and let the card handle go
// meanwhile.
template <typename Call>
int with_pinpad(int32_t handle, Call call) {
    handle = device_or_current(handle);
    if (handle <= 0) return kNoDevice;
    struct Task {
        Call& call;
        int result = kNoDevice;
    } task{call};
    const int found = call::with_card(handle, false, [](void* context, const Pcsc_Common* reader) {
        auto& t = *static_cast<Task*>(context);
        try {
            t.result = pinpad_call(*reader, t.call);
        } catch (...) {
            t.result = -1;  // nothing thrown crosses tarvik's frames
        }
    }, &task);
    return found == 0 ? task.result : kNoDevice;
}

}  // namespace

int display_message(int32_t handle, const char* text, int32_t a, int32_t b) {
    return with_pinpad(handle, [&](const PinpadLibrary& library, SCARDHANDLE card) {
        return library.display_message(card, a, b, text);
    });
}

int beep(int32_t handle, int32_t a) {
    return with_pinpad(handle, [&](const PinpadLibrary& library, SCARDHANDLE card) { return library.beep(card, a); });
}

}  // namespace selvane::pinpad

extern "C" {
int32_t PCSC_Display_Message(int32_t handle, const char* text, int32_t a, int32_t b) try {
    const kit::LibraryCall call;
    return selvane::pinpad::display_message(handle, text, a, b);
} catch (...) {
    return kit::export_failure(__func__, -1);
}
int32_t QUARLO_Display_Message(int32_t handle, const char* text, int32_t a, int32_t b) try {
    const kit::LibraryCall call;
    return selvane::pinpad::display_message(handle, text, a, b);
} catch (...) {
    return kit::export_failure(__func__, -1);
}
int32_t PCSC_Beep(int32_t handle, int32_t a) try {
    const kit::LibraryCall call;
    return selvane::pinpad::beep(handle, a);
} catch (...) {
    return kit::export_failure(__func__, -1);
}
int32_t QUARLO_Beep(int32_t handle, int32_t a) try {
    const kit::LibraryCall call;
    return selvane::pinpad::beep(handle, a);
} catch (...) {
    return kit::export_failure(__func__, -1);
}
}
