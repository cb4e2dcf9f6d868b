// The exported private SIS read: the flat public read, then the SAM read.
#include "platform/export_guard.h"
#include "selvane.h"
#include "selvane/sam_read.h"

namespace {

int read_private(const char* name, int32_t handle, int32_t mode, const char* pin, char* isdf, char* pbdf,
                 char* sfdf) noexcept {
    return kit::guarded(name, int{selvane::sam::kFailed}, [&] {
        return selvane::sam::read_private(selvane::ctm::terminal_library(), PCSC_SIS_Read, handle, mode, pin, isdf,
                                          pbdf, sfdf);
    });
}

}  // namespace

extern "C" int32_t PCSC_SIS_Read_Private(int32_t handle, int32_t mode, const char* pin, char* isdf, char* pbdf,
                                         char* sfdf) {
    return read_private(__func__, handle, mode, pin, isdf, pbdf, sfdf);
}

extern "C" int32_t QUARLO_SIS_Read_Private(int32_t handle, int32_t mode, const char* pin, char* isdf, char* pbdf,
                                           char* sfdf) {
    return read_private(__func__, handle, mode, pin, isdf, pbdf, sfdf);
}
