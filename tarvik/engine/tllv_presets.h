// Selector presets of the server exchanges: one request (_tx) and one reply
// (_rx) preset per exchange. Each sets its flags to 1 and every other flag to
// 0, except `sgn_photo`, which it leaves as it was (so after
// init_S_EID_TLLV_SELECTOR it stays 1). All return 0; a null selector is
// ignored.
#ifndef TARVIK_ENGINE_TLLV_PRESETS_H
#define TARVIK_ENGINE_TLLV_PRESETS_H

#include "tarvik/engine/eid_tllv.h"

int init_S_EID_TLLV_SELECTOR_identify_tx(S_EID_TLLV_SELECTOR* selector);
int init_S_EID_TLLV_SELECTOR_identify_rx(S_EID_TLLV_SELECTOR* selector);
int init_S_EID_TLLV_SELECTOR_capture_tx(S_EID_TLLV_SELECTOR* selector);
int init_S_EID_TLLV_SELECTOR_capture_rx(S_EID_TLLV_SELECTOR* selector);
int init_S_EID_TLLV_SELECTOR_verify_tx(S_EID_TLLV_SELECTOR* selector);
int init_S_EID_TLLV_SELECTOR_verify_rx(S_EID_TLLV_SELECTOR* selector);
int init_S_EID_TLLV_SELECTOR_authen1_tx(S_EID_TLLV_SELECTOR* selector);
int init_S_EID_TLLV_SELECTOR_authen1_rx(S_EID_TLLV_SELECTOR* selector);
int init_S_EID_TLLV_SELECTOR_authen2_tx(S_EID_TLLV_SELECTOR* selector);
int init_S_EID_TLLV_SELECTOR_authen2_rx(S_EID_TLLV_SELECTOR* selector);
int init_S_EID_TLLV_SELECTOR_signing_tx(S_EID_TLLV_SELECTOR* selector);
int init_S_EID_TLLV_SELECTOR_signing_rx(S_EID_TLLV_SELECTOR* selector);

#endif
