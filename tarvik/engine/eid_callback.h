// The communication callback through which the engine reaches the server.
#ifndef TARVIK_ENGINE_EID_CALLBACK_H
#define TARVIK_ENGINE_EID_CALLBACK_H

// Size of the reply buffer the engine hands to the callback.
inline constexpr int EID_REPLY_BUFFER_SIZE = 16384;

// request/request_len: the TLLV bytes to send (request_len > 0).
// reply: EID_REPLY_BUFFER_SIZE bytes, zero-filled by the engine; reply_len:
// set to 0 by the engine, the callback stores the reply's byte count.
// Returns 0 when the (possibly empty) reply is to be decoded, else a failure
// code that the engine passes on.
using eid_communication_callback = int (*)(unsigned char* request, int request_len, unsigned char* reply,
                                           int* reply_len);

#endif
