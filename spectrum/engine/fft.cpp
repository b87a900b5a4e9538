// Plain radix-2 transform, kept until the tuned one lands: decimation in frequency, per-stage
// twiddles, columns then rows, one column at a time.
#include "spectrum/engine/fft.h"

#include <cmath>
#include <utility>
#include <vector>

namespace spectrum {

int transform1d(double* re, double* im, int n, int log2n, Direction direction) {
    if (n < 2) return kTransformBadSize;
    if (log2n < 1) {
        log2n = 0;
        while ((1 << log2n) < n && log2n < 30) ++log2n;
    }
    if (log2n > 30 || (1 << log2n) != n) return kTransformNotPowerOfTwo;
    const double pi = std::acos(-1.0);
    const double s = direction == Direction::Forward ? -1.0 : 1.0;
    for (int length = n; length >= 2; length /= 2) {
        const int half = length / 2;
        for (int j = 0; j < half; ++j) {
            const double theta = j * 2 * pi / length;
            const double cs = std::cos(theta), sn = s * std::sin(theta);
            for (int b = 0; b < n; b += length) {
                const int a = b + j, e = a + half;
                const double tr = re[a], ti = im[a], ur = re[e], ui = im[e];
                re[a] = tr + ur;
                im[a] = ti + ui;
                const double dr = tr - ur, di = ti - ui;
                re[e] = dr * cs - di * sn;
                im[e] = di * cs + dr * sn;
            }
        }
    }
    for (int i = 0, j = 0; i < n; ++i) {
        if (i < j) {
            std::swap(re[i], re[j]);
            std::swap(im[i], im[j]);
        }
        int m = n >> 1;
        while (m >= 1 && j >= m) {
            j -= m;
            m >>= 1;
        }
        j += m;
    }
    if (direction == Direction::Inverse)
        for (int i = 0; i < n; ++i) {
            re[i] /= n;
            im[i] /= n;
        }
    return kTransformOk;
}

int transform2d(double* re, double* im, int n, int rowLength, Direction direction) {
    if (n < 2 || n > kMaxTransformSize) return kTransformBadSize;
    if (n & (n - 1)) return kTransformNotPowerOfTwo;
    std::vector<double> a(n), b(n);
    for (int c = 0; c < n; ++c) {
        for (int r = 0; r < n; ++r) {
            a[r] = re[static_cast<std::size_t>(r) * rowLength + c];
            b[r] = im[static_cast<std::size_t>(r) * rowLength + c];
        }
        transform1d(a.data(), b.data(), n, 0, direction);
        for (int r = 0; r < n; ++r) {
            re[static_cast<std::size_t>(r) * rowLength + c] = a[r];
            im[static_cast<std::size_t>(r) * rowLength + c] = b[r];
        }
    }
    for (int r = 0; r < n; ++r)
        transform1d(re + static_cast<std::size_t>(r) * rowLength, im + static_cast<std::size_t>(r) * rowLength, n,
                    0, direction);
    return kTransformOk;
}

int transform2dRealInput(double* re, double* im, int n, int rowLength, Direction direction) {
    return transform2d(re, im, n, rowLength, direction);
}

}  // namespace spectrum
