// Start-up of the plain face: log file, server URL and engine.
#include <cstring>
#include <string>

#include "tarvik/engine/eid_engine.h"
#include "tarvik/faces/face_trace.h"
#include "tarvik/faces/log_directory.h"
#include "tarvik.h"
#include "tarvik/faces/server_transport.h"
#include "platform/export_guard.h"
#include "platform/library_lock.h"

namespace {

// The callback of offline use: an exchange the engine still makes gets no
// answer data.
int offline_communication_callback(unsigned char*, int, unsigned char*, int* reply_len) {
    if (reply_len != nullptr) *reply_len = 0;
    return 0;
}

void start_trace(const std::string& log_file) {
    __settraceopts(255);
    // A path that does not fit is not opened; the host goes on without a log.
    if (!log_file.empty()) __settracefile(log_file.c_str());
}

}  // namespace

extern "C" {

TARVIK_EXPORT int eidStartOnline(const char* url) try {
    const kit::LibraryCall call;
    const std::string directory = face_log_directory();
    std::memset(server_url, 0, sizeof server_url);
    if (url != nullptr && std::strlen(url) <= PLAIN_URL_MAX) std::strcpy(server_url, url);
    start_trace(join_bounded(directory, "eidzundelog.txt", LOG_DIRECTORY_SIZE));
    FACE_TRACE("eidStartOnline", "ENTERING:");
    eidInit(java_tx_rx_xml, directory.c_str());
    return 0;
} catch (...) {
    return kit::export_failure(__func__, -1);
}

TARVIK_EXPORT int eidStartAccessRights(const char* sub_directory) try {
    const kit::LibraryCall call;
    const std::string directory = face_log_directory();
    const std::string user = expand_environment("%USERNAME%");
    const std::string folder = join_bounded(directory, sub_directory != nullptr ? sub_directory : "", LOG_DIRECTORY_SIZE);
    start_trace(folder.empty() ? folder : join_bounded(folder, user + "_eiddlllog.txt", LOG_DIRECTORY_SIZE));
    eidInit(offline_communication_callback, directory.c_str());
    return 0;
} catch (...) {
    return kit::export_failure(__func__, -1);
}

}  // extern "C"
