// The plain transform the tuned one must match: radix 2, decimation in frequency, cos and sin
// evaluated per stage, bit reversal, columns then rows, 1/n per pass for the inverse. Shared by the
// unit tests (as the reference) and the benchmark (as the baseline).
#pragma once

#include <cmath>
#include <cstddef>
#include <utility>
#include <vector>

namespace reference {

inline void plain1d(double* re, double* im, int n, bool inverse) {
    const double s = inverse ? 1.0 : -1.0, pi = std::acos(-1.0);
    for (int length = n; length >= 2; length /= 2) {
        const int half = length / 2;
        for (int j = 0; j < half; ++j) {
            const double theta = j * 2.0 * pi / length, cs = std::cos(theta);
            const double sn = s * std::sin(theta);
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
        while (m >= 1 && (j & m)) {
            j ^= m;
            m >>= 1;
        }
        j |= m;
    }
    if (inverse)
        for (int i = 0; i < n; ++i) {
            re[i] /= n;
            im[i] /= n;
        }
}

inline void plain2d(double* re, double* im, int n, bool inverse) {
    std::vector<double> a(n), b(n);
    for (int c = 0; c < n; ++c) {
        for (int r = 0; r < n; ++r) {
            a[r] = re[static_cast<std::size_t>(r) * n + c];
            b[r] = im[static_cast<std::size_t>(r) * n + c];
        }
        plain1d(a.data(), b.data(), n, inverse);
        for (int r = 0; r < n; ++r) {
            re[static_cast<std::size_t>(r) * n + c] = a[r];
            im[static_cast<std::size_t>(r) * n + c] = b[r];
        }
    }
    for (int r = 0; r < n; ++r)
        plain1d(re + static_cast<std::size_t>(r) * n, im + static_cast<std::size_t>(r) * n, n,
                inverse);
}

}  // namespace reference
