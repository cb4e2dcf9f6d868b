// The SIS card's private read through a SAM: after the public SIS read, the
// card-terminal library unlocks the SAM with the caller's PIN, reads the SIS
// files with the SIS key table and hands out the SFDF with its certificate,
// which is rendered (selvane/sfdf.h) and appended to the caller's SFDF text.
#ifndef SELVANE_SAM_READ_H
#define SELVANE_SAM_READ_H

#include "selvane/ctm_library.h"

namespace selvane::sam {

// Results.
enum : int {
    kRead = 1,                     // success
    kFailed = -1,                  // library not loadable or incomplete, or a terminal step failed
    kExclusivityRefused = -2,      // exclusive use of the SAM or the SIS card refused
    kNullIsdf = -210,              // null ISDF buffer
    kNullPbdf = -211,              // null PBDF buffer
    kNullSfdf = -212,              // null SFDF buffer
    kNoSamOrWrongPin = 0x9001,     // empty VERIFY reply: no SAM, or a wrong PIN
    kNoCertificate = 0x9002,       // the SFDF came without certificate, or could not be fetched
    kWrongPin = 0x9030,            // VERIFY answered 90 30
};

// The public read of the ISDF and PBDF texts (the flat SIS read).
using PublicRead = int (*)(int handle, int mode, char* isdf, char* pbdf);

// `pin`: up to four characters are used, fewer when it ends sooner (a null
// pin is an empty one). The ISDF and PBDF texts are the public read's and
// stay whatever happens later. A public read that does not answer kRead
// ends the call with its result, before the terminal is used. On success
// the SFDF text (mode 0 NAME=value lines, 1 XML) is appended to `sfdf`, a
// buffer of selvane::sfdf::kTextCapacity (2,048) bytes; when the text would
// not fit there after what the buffer holds, nothing is appended and kFailed
// answers.
int read_private(ctm::Library& library, PublicRead public_read, int handle, int mode, const char* pin, char* isdf,
                 char* pbdf, char* sfdf);

}  // namespace selvane::sam

#endif
