// The binding of the card-terminal library: loaded on first use, by its plain
// name only, and kept until the process ends. A failed load leaves nothing
// bound, so the next use tries again.
#ifndef SELVANE_CTM_LIBRARY_H
#define SELVANE_CTM_LIBRARY_H

#include <string>
#include <string_view>

#include "platform/dynamic_library.h"
#include "selvane/ctm_interface.h"

namespace selvane::ctm {

// The fourteen entry points, fetched by name in this order.
struct Functions {
    OpenFn open = nullptr;
    CloseFn close = nullptr;
    ResOpenFn res_open = nullptr;
    ResCloseFn res_close = nullptr;
    SetExclusivityFn set_exclusivity = nullptr;
    CtResetFn ct_reset = nullptr;
    CardCommandFn card_command = nullptr;
    CardOpenFn card_open = nullptr;
    IsSisCardFn is_sis_card = nullptr;
    BncsInitialiseFn bncs_initialise = nullptr;
    BncsTerminateFn bncs_terminate = nullptr;
    BncsReadDataFn bncs_read_data = nullptr;
    BncsWriteDataFn bncs_write_data = nullptr;
    BncsGetDataFn bncs_get_data = nullptr;
};

class Library {
public:
    // `file_name` as kit::platform::DynamicLibrary takes it.
    explicit Library(std::string file_name) : file_name_(std::move(file_name)) {}

    // The bound entry points, loading the library first when it is not yet
    // bound; null when it cannot be loaded or lacks an entry point.
    const Functions* functions();

private:
    std::string file_name_;
    kit::platform::DynamicLibrary library_;
    Functions functions_;
    bool bound_ = false;
};

// The process-wide binding of "ctmwin.dll".
Library& terminal_library();

}  // namespace selvane::ctm

#endif
