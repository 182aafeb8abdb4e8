// Flushing of denormal numbers, set at the program's start-up.
#ifndef VELMORA_DENORMALS_H
#define VELMORA_DENORMALS_H

#include <xmmintrin.h>

// Sets the FTZ (flush to zero, bit 15) and DAZ (denormals are zero, bit 6)
// bits of the SSE control register MXCSR of the calling thread.
inline void flush_denormals_to_zero() { _mm_setcsr(_mm_getcsr() | 0x8040u); }

#endif
