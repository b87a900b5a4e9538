// Two-dimensional and one-dimensional complex FFT on split arrays (real parts and imaginary parts
// in two separate arrays of doubles), in place.
//
// Sign and scaling: the forward direction computes the unnormalised DFT
//     F(u, v) = sum over (x, y) of f(x, y) exp(-2 pi i (u x + v y) / n),
// the inverse direction uses exp(+2 pi i ...) and divides by n per one-dimensional pass (n x n in
// two dimensions), so forward then inverse returns the input to rounding.
//
// Memory: only the caller's two arrays plus small scratch (a few columns per thread).
#pragma once

#include <cstddef>

namespace spectrum {

enum class Direction { Forward, Inverse };

inline constexpr int kTransformOk = 0;
inline constexpr int kTransformNotPowerOfTwo = 1;
inline constexpr int kTransformBadSize = 999;
inline constexpr int kMaxTransformSize = 8192;

// n x n arrays, `rowLength` doubles between rows (always n here). Columns are transformed, then
// rows. Returns kTransformOk, kTransformBadSize when n < 2 or n > 8192, kTransformNotPowerOfTwo
// when n is not a power of two.
int transform2d(double* real, double* imag, int n, int rowLength, Direction direction);

// The same when the caller knows that every imaginary part is zero on entry (a real frame): the
// result is identical to transform2d to rounding, computed faster.
int transform2dRealInput(double* real, double* imag, int n, int rowLength, Direction direction);

// One transform of n complex values. When log2n < 1 it is computed from n. Returns kTransformOk,
// kTransformBadSize when n < 2, kTransformNotPowerOfTwo when n is not 2^log2n.
int transform1d(double* real, double* imag, int n, int log2n, Direction direction);

}  // namespace spectrum
