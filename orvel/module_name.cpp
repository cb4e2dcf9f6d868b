#include "module_name.h"

#include "trace_line.h"

#include <dlfcn.h>

namespace orvel {

namespace {
constexpr std::size_t kMaxModuleName = 80;
}

const char* module_base_name(const void* code_address) noexcept {
    Dl_info info{};
    if (code_address == nullptr || ::dladdr(code_address, &info) == 0 || info.dli_fname == nullptr) return nullptr;
    const std::string_view base = base_name(info.dli_fname);
    if (base.empty() || base.size() >= kMaxModuleName) return nullptr;
    return base.data();  // a suffix of dli_fname, so still terminated
}

}  // namespace orvel
