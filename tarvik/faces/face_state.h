// State the two faces share for the life of the process (zero at load,
// guarded by the library's lock: one call at a time), and the steps both
// faces take around an engine transaction.
#ifndef TARVIK_FACES_FACE_STATE_H
#define TARVIK_FACES_FACE_STATE_H

#include <cstddef>
#include <cstdint>

#include "tarvik/engine/eid_card_cache.h"
#include "tarvik/engine/eid_records.h"

inline constexpr std::size_t FACE_READER_NAME_SIZE = 1024;
inline constexpr std::size_t FACE_SESSION_ID_LENGTH = 32;

// The reader the plain openDevice was last given (read by the Portuguese
// read); at most FACE_READER_NAME_SIZE - 1 characters.
extern char selected_reader_name[FACE_READER_NAME_SIZE];
// The session identifier the JNI openDevice makes (32 characters and a
// zero; all zero before the first open).
extern char face_session_id[FACE_SESSION_ID_LENGTH + 1];
// The data of the last card read, shared by both faces.
extern S_EID_CARD_CACHE face_card_cache;

void clear_card_cache();

// The input and output records of one transaction: initialised on
// construction (function code, ten request masks), freed on every path.
class TransactionRecords {
public:
    TransactionRecords(int32_t function_id, const int32_t (&masks)[EID_REQUEST_MASKS]);
    ~TransactionRecords();
    TransactionRecords(const TransactionRecords&) = delete;
    TransactionRecords& operator=(const TransactionRecords&) = delete;

    S_EID_FUNCTION_INPUT in{};
    S_EID_FUNCTION_OUTPUT out{};
};

bool has_data(const S_EID_DATA& data);
// True for the handle the last successful open handed out: the plain
// exports refuse any other before the engine sees it.
bool is_open_device(int handle);

// in.id_session := the 32 bytes of face_session_id. 0 or -1 (no memory).
int set_session_id(S_EID_FUNCTION_INPUT& in);
// in.pincode := the PIN text whole (the engine checks its form), in a
// zero-filled buffer of at least 5 bytes. 0, or -1 (no memory).
int set_pincode(S_EID_FUNCTION_INPUT& in, const char* pin);

// When out.id_card names the card the cache holds, fills out's empty
// members from the cache as in asks; otherwise empties the cache.
void use_card_cache(const S_EID_FUNCTION_INPUT& in, S_EID_FUNCTION_OUTPUT& out);

#endif
