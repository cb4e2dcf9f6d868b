// The exported private SIS read: the flat public read, then the SAM read.
#include "selvane.h"
#include "selvane/sam_read.h"

namespace {

int read_private(int32_t handle, int32_t mode, const char* pin, char* isdf, char* pbdf, char* sfdf) noexcept {
    try {
        return selvane::sam::read_private(selvane::ctm::terminal_library(), PCSC_SIS_Read, handle, mode, pin, isdf,
                                          pbdf, sfdf);
    } catch (...) {
        return selvane::sam::kFailed;
    }
}

}  // namespace

extern "C" int32_t PCSC_SIS_Read_Private(int32_t handle, int32_t mode, const char* pin, char* isdf, char* pbdf,
                                         char* sfdf) {
    return read_private(handle, mode, pin, isdf, pbdf, sfdf);
}

extern "C" int32_t QUARLO_SIS_Read_Private(int32_t handle, int32_t mode, const char* pin, char* isdf, char* pbdf,
                                           char* sfdf) {
    return read_private(handle, mode, pin, isdf, pbdf, sfdf);
}
