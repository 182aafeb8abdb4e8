// Uniform and Gaussian random deviates, and the seeding convention of their
// callers.
//
// The generators keep their state in function-local statics shared by every
// caller for the whole run (the shuffle table of ran1, the spare deviate of
// gasdev); there is no reset. Not reentrant. A caller seeds once per call
// with probe_seed() and draws every deviate of that call from gasdev with a
// pointer to that seed cell.
#pragma once

#include <ctime>

// Uniform deviate in (0, 1): the minimal standard generator (16807 s mod
// 2^31 - 1) behind a 32-entry Bays-Durham shuffle, in single precision.
// Never 0 and never 1: from 4.656613e-10 to 0.9999998807907104. A seed cell
// <= 0, or any seed on the very first call, rebuilds the table from -*idum
// (a value below 1 runs as 1); afterwards *idum holds the latest generator
// value (1 ... 2^31 - 2) and continues the stream. A seed of magnitude
// 2^31 - 1 or more is taken modulo 2^31 - 1 (0 runs as 1).
float ran1(long* idum);

// Standard normal deviate by the polar Box-Muller method on pairs of ran1
// draws. One call in two draws a new pair (returning the deviate of the
// second draw) and keeps the other for the next call, which returns it
// without drawing; a kept deviate survives a reseeding of *idum.
float gasdev(long* idum);

// Seed from one rand() value r: -(int)((float)r * 4.656613e-6f), widened;
// from -10000 (r >= 2147483584) to 0 (r < 214749).
long seed_from_rand(int r);

// The callers' seed: srand with the clock's seconds (truncated to 32 bits),
// one rand(), seed_from_rand of it.
long probe_seed();

// Replaces the clock that probe_seed reads (a test seam); nullptr restores
// the calendar time, time(nullptr).
void set_probe_seed_clock(std::time_t (*clock)());

// One step of the minimal standard generator by Schrage's decomposition:
// 16807 s mod (2^31 - 1) without overflow, for s in 1 ... 2^31 - 2.
long minimal_standard_step(long s);
