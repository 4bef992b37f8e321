// Radix-2 decimation-in-time FFT on separate real and imaginary float arrays.
#pragma once

#include <cstdint>

// True when n >= 2 and n is a power of two.
bool IsPowerOfTwo(int n);
// log2 of a power of two; 0 for odd n; ends the process for n below 2.
int FftBitCount(int n);
// The low `bits` bits of value, reversed.
uint32_t ReverseBits(uint32_t value, int bits);

// Number of points the reduced mode transforms.
constexpr int kReducedPoints = 64;

// Ends the process with the transform's message ("<size> is not a power of
// two") when Fft would refuse `size` in that mode: a direct-mode size (reduce
// zero, or size 64 or less) that is not a power of two, 0, 1 and negative
// sizes included. Returns otherwise.
void CheckFftSize(int size, uint32_t reduce);

// Transforms `size` samples (or, with reduce set and size above 64, a 64-point
// subsample of stride size/64) and returns the number of points P transformed;
// 0 when reIn, reOut or imOut is null. A direct-mode size that is not a power
// of two ends the process with a message, by design.
int Fft(int size, uint8_t inverse, const float* reIn, const float* imIn, float* reOut, float* imOut,
        uint32_t reduce);
