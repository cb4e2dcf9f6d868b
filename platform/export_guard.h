// Every exported function of libtarvik.so and libselvane.so holds its
// library's lock (platform/library_lock.h) for the whole call, and no C++
// exception (out of memory included) crosses it: what is thrown under an
// export is traced and answered with that export's failure value. Both
// shapes below end in the same handler:
//   int32_t an_export(...) try { const kit::LibraryCall call; ...body... }
//   catch (...) { return kit::export_failure(__func__, -1); }
//   return kit::guarded(__func__, -1, [&] { ...body... });
#ifndef PLATFORM_EXPORT_GUARD_H
#define PLATFORM_EXPORT_GUARD_H

#include <exception>

#include "orvel.h"
#include "platform/library_lock.h"

namespace kit {

// To be called inside a catch handler only: traces the exception being
// handled under the export's name, file and line, and gives back failure.
template <typename Failure>
Failure export_failure(const char* name, Failure failure,
                       const char* file = __builtin_FILE(), int line = __builtin_LINE()) noexcept {
    try {
        throw;
    } catch (const std::exception& e) {
        __tracef(ORVEL_DEBUG, name, file, line, "Exception: %s", e.what());
    } catch (...) {
        __tracef(ORVEL_DEBUG, name, file, line, "Exception: %s", "not a std::exception");
    }
    return failure;
}

// body's result, or failure when body throws.
template <typename Failure, typename Body>
auto guarded(const char* name, Failure failure, Body&& body,
             const char* file = __builtin_FILE(), int line = __builtin_LINE()) noexcept
    -> decltype(body()) {
    const LibraryCall call;
    try {
        return body();
    } catch (...) {
        return export_failure(name, failure, file, line);
    }
}

}  // namespace kit

#endif
