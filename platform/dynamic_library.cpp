#include "platform/dynamic_library.h"

#include <dlfcn.h>

#include <algorithm>
#include <utility>

#include "orvel.h"
#include "platform/ascii.h"

namespace kit::platform {

namespace {

bool ends_with_dll(std::string_view name) {
    if (name.size() < 4) return false;
    std::string tail(name.substr(name.size() - 4));
    std::transform(tail.begin(), tail.end(), tail.begin(), ascii_lower);
    return tail == ".dll";
}

void trace_dlerror(const char* trace_name, const char* file, int line) {
    const char* why = dlerror();
    __tracef(ORVEL_DEBUG, trace_name, file, line, "dlerror: %s", why ? why : "(none)");
}

}  // namespace

std::string library_file_name(std::string_view name) {
    if (name.find('/') != std::string_view::npos || !ends_with_dll(name)) return std::string(name);
    std::string base(name.substr(0, name.size() - 4));
    std::transform(base.begin(), base.end(), base.begin(), ascii_lower);
    return "lib" + base + ".so";
}

bool keep_module_loaded(const void* address) {
    Dl_info info{};
    if (dladdr(address, &info) == 0 || !info.dli_fname) return false;
    // A reference taken with RTLD_NODELETE marks the module for good; the
    // reference itself is not kept.
    void* again = dlopen(info.dli_fname, RTLD_NOW | RTLD_NOLOAD | RTLD_NODELETE);
    if (!again) return false;
    dlclose(again);
    return true;
}

DynamicLibrary::DynamicLibrary(std::string_view name, const char* trace_name, const char* file, int line)
    : trace_name_(trace_name) {
    const std::string library_file = library_file_name(name);
    handle_ = dlopen(library_file.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle_) trace_dlerror(trace_name_, file, line);
}

DynamicLibrary::DynamicLibrary(DynamicLibrary&& other) noexcept
    : handle_(std::exchange(other.handle_, nullptr)), trace_name_(other.trace_name_) {}

DynamicLibrary& DynamicLibrary::operator=(DynamicLibrary&& other) noexcept {
    if (this != &other) {
        reset();
        handle_ = std::exchange(other.handle_, nullptr);
        trace_name_ = other.trace_name_;
    }
    return *this;
}

DynamicLibrary::~DynamicLibrary() { reset(); }

void* DynamicLibrary::symbol(const char* name, const char* file, int line) const {
    if (!handle_) return nullptr;
    dlerror();
    void* address = dlsym(handle_, name);
    if (!address) trace_dlerror(trace_name_, file, line);
    return address;
}

void DynamicLibrary::reset() {
    if (handle_) dlclose(handle_);
    handle_ = nullptr;
}

}  // namespace kit::platform
