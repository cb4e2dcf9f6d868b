// The public-data transactions: identity capture, public-data capture and
// public-data verification. Each takes the device handle of the opened
// reader and the caller's initialised input and output records (the caller
// frees both) and runs in one PC/SC transaction, ended on every path.
//
// Results: 0; 3018 no reader selected; 3000 to 3004 or a reader-layer code
// from the card check; -1 PC/SC transaction not begun (or null records,
// or certificate file names that do not fit 255 characters); 1000 wrong
// function code; the failing controller row's code (1001 to 1029, 1105);
// online, the server exchange's result (communicationCallBack).
#ifndef TARVIK_ENGINE_EID_PUBLIC_TRANSACTIONS_H
#define TARVIK_ENGINE_EID_PUBLIC_TRANSACTIONS_H

#include "tarvik/engine/eid_records.h"

// Codes IDENT_CAP_ONLINE / IDENT_CAP_OFFLINE; reads the files the request
// masks ask for (public-data table only).
int eidPubDataCaptureIdentify(int handle, S_EID_FUNCTION_INPUT* in, S_EID_FUNCTION_OUTPUT* out);
// Codes PUB_DATA_CAP_ONLINE / PUB_DATA_CAP_OFFLINE; reads, saves PEM files,
// photo hash, signature and chain checks as the request masks ask.
int eidPubDataCapture(int handle, S_EID_FUNCTION_INPUT* in, S_EID_FUNCTION_OUTPUT* out);
// Codes PUB_DATA_VER_ONLINE / PUB_DATA_VER_OFFLINE; the same steps.
int eidPubDataVerify(int handle, S_EID_FUNCTION_INPUT* in, S_EID_FUNCTION_OUTPUT* out);

#endif
