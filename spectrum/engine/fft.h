// Two-dimensional and one-dimensional complex FFT on split arrays (real parts and imaginary parts
// in two separate arrays of doubles), in place.
//
// Sign and scaling: the forward direction computes the unnormalised DFT
//     F(u, v) = sum over (x, y) of f(x, y) exp(-2 pi i (u x + v y) / n),
// the inverse direction uses exp(+2 pi i ...) and divides by n per one-dimensional pass (n x n in
// two dimensions), so forward then inverse returns the input to rounding.
//
// Memory: only the caller's two arrays plus small scratch: per worker thread, a batch of sixteen
// columns or eight rows (2 x 16 x n doubles, 2 MiB at n = 8192), and per size a cached plan of O(n)
// (twiddle factors and the bit-reversal table) built on first use and kept for the process.
//
// Speed: the 2-D transform runs on two threads; every pass gathers sixteen columns (or eight rows)
// into contiguous scratch and transforms them side by side with radix-4 decimation in frequency, so
// each butterfly is a vector operation and the caller's arrays are read and written once per
// pass. Results are in natural order, in place.
#pragma once

#include <cstddef>

namespace spectrum {

enum class Direction { Forward, Inverse };

inline constexpr int kTransformOk = 0;
inline constexpr int kTransformNotPowerOfTwo = 1;
inline constexpr int kTransformBadSize = 999;
inline constexpr int kMaxTransformSize = 8192;
// Scratch or plan memory could not be had (the arrays are then left unchanged).
inline constexpr int kTransformNoMemory = 2;

// n x n arrays, `rowLength` doubles between rows (always n here). Columns are transformed, then
// rows. Returns kTransformOk, kTransformBadSize when n < 2 or n > 8192 (or when an array is null
// or rowLength < n, which would make rows overlap), kTransformNotPowerOfTwo when n is not a power
// of two, kTransformNoMemory when scratch cannot be allocated.
int transform2d(double* real, double* imag, int n, int rowLength, Direction direction);

// The same when the caller knows that every imaginary part is zero on entry (a real frame): the
// result is identical to transform2d to rounding, computed faster. The imaginary array is only
// written, never read. Same return codes as transform2d.
int transform2dRealInput(double* real, double* imag, int n, int rowLength, Direction direction);

// transform2d when only rows firstRow .. firstRow + rowCount - 1 of the result are wanted: every
// column is transformed, then only the rows that hold the wanted ones (a few neighbours may come
// along); those rows are bit for bit what transform2d gives, the others are left half done. The
// inverse uses it for the image's window of the frame. kTransformBadSize also for a row range
// outside the frame.
int transform2dRows(double* real, double* imag, int n, int rowLength, Direction direction,
                    int firstRow, int rowCount);

// The inverse of transform2dRows for a spectrum whose inverse is real, F(n - u, n - v) =
// conj F(u, v) (indices mod n): only columns 0 .. n/2 are read, and each pair of wanted rows
// goes through one complex transform. Rows firstRow .. firstRow + rowCount - 1 of `real` receive
// the result (the real parts of transform2dRows to rounding); everything else in both arrays is
// left as scratch. Rows outside nonzeroFirst .. nonzeroFirst + nonzeroCount - 1 are taken as
// zeros and never read (a filter that zeroes them need not write them). Same return codes as
// transform2dRows, kTransformBadSize also for a nonzero range outside the frame.
int transform2dRealRows(double* real, double* imag, int n, int rowLength, int firstRow,
                        int rowCount, int nonzeroFirst, int nonzeroCount);

// One transform of n complex values. When log2n < 1 it is computed from n. Returns kTransformOk,
// kTransformBadSize when n < 2 (or an array is null), kTransformNotPowerOfTwo when n is not
// 2^log2n, kTransformNoMemory when the plan for a size above 8192 cannot be allocated. Runs on
// the calling thread only and needs no scratch.
int transform1d(double* real, double* imag, int n, int log2n, Direction direction);

// Frames above kMaxTransformSize keep only the half spectrum of their real frame, in double or
// single precision. Row r of the n x n frame starts at element r * (n + 2): before the forward
// transform (and after the inverse) it holds the frame's n real samples; in between it holds
// F(r, 0 .. n/2) as (re, im) pairs, the rest of the spectrum being F(r, c) = conj F(n - r, n - c)
// (indices mod n). Arithmetic is in double for both storages; sign and scaling as transform2d.
// n is a power of two from 32 to kMaxHalfTransformSize. The inverse transforms every column,
// then only the rows firstRow .. firstRow + rowCount - 1 (and the even row of a pair); the others
// are left half done. Same return codes as transform2d; the frame is unchanged on
// kTransformNoMemory.
inline constexpr int kMaxHalfTransformSize = 32768;
int halfTransformForward(double* frame, int n);
int halfTransformForward(float* frame, int n);
int halfTransformInverse(double* frame, int n, int firstRow, int rowCount);
int halfTransformInverse(float* frame, int n, int firstRow, int rowCount);

namespace detail {

// Which vector code the batched passes use: the widest the processor offers (AVX2 when present,
// else SSE2), or SSE2 forced, so tests and benchmarks can exercise both paths on one machine.
enum class Kernel { Automatic, Sse2 };
void selectKernel(Kernel kernel);
bool avx2Available();

}  // namespace detail

}  // namespace spectrum
