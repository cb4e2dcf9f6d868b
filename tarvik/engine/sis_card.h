// Reading an SIS card (SLE4418 memory card) through the reader layer's
// synchronous-card read, and handing its public areas to the caller.
// Output types, sizes and results are those of sis_decode.h.
#ifndef TARVIK_ENGINE_SIS_CARD_H
#define TARVIK_ENGINE_SIS_CARD_H

#include <cstddef>

#include "tarvik/engine/sis_decode.h"

// 0 card present; 3000 the status call failed; 3001 status word not 0x9000;
// 3002 the ATR begins with FF.
int sisCheckCard(int handle);

// Reads the head (61 bytes at 0), PBDF (100 bytes at 104) and ISDF (44 bytes
// at 60) into the buffers, which must hold those sizes. SIS_OK, SIS_NO_CARD
// (3100) or SIS_READ_FAILED (-1, also for readers that cannot read SLE4418).
int readSisCardData(int handle, unsigned char* pbdf, unsigned char* isdf, unsigned char* head);

// Reads, checks and decodes the card into the outputs (note: ISDF before
// PBDF). Types 0 and 1 append to the text already in each output and need
// SIS_TEXT_OUTPUT_MAX bytes free; type 2 writes SIS_ISDF_RECORD_SIZE and
// SIS_PBDF_RECORD_SIZE bytes. Results: SIS_OK (1), SIS_NO_CARD (3100),
// SIS_READ_FAILED (-1), SIS_PBDF_CHECK_FAILED (-3), SIS_ISDF_CHECK_FAILED
// (-4), SIS_OUTPUT_TOO_SMALL (-5). On any failure nothing is written.
int sisReadCard(int handle, int type, char* isdf_out, std::size_t isdf_capacity, char* pbdf_out,
                std::size_t pbdf_capacity);

#endif
