#include "tests/support/power_law_noise.h"

#include <cmath>
#include <complex>

namespace {

// SplitMix64: small, fast, and the same everywhere.
struct Random {
    uint64_t state;
    uint64_t next() {
        uint64_t z = (state += 0x9E3779B97F4A7C15ULL);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
        return z ^ (z >> 31);
    }
    // In (0, 1).
    double uniform() { return (static_cast<double>(next() >> 11) + 0.5) * 0x1.0p-53; }
};

// Box and Muller: two normal variates per pair of uniforms.
void fill_normal(Random &random, std::vector<double> &out) {
    const double two_pi = 6.283185307179586;
    for (size_t i = 0; i < out.size(); i += 2) {
        const double radius = std::sqrt(-2 * std::log(random.uniform()));
        const double angle = two_pi * random.uniform();
        out[i] = radius * std::cos(angle);
        if (i + 1 < out.size()) {
            out[i + 1] = radius * std::sin(angle);
        }
    }
}

// In-place radix-2 FFT; inverse without the 1/n.
void fft(std::vector<std::complex<double>> &a, bool inverse) {
    const size_t n = a.size();
    for (size_t i = 1, j = 0; i < n; ++i) {
        size_t bit = n >> 1;
        for (; (j & bit) != 0; bit >>= 1) {
            j ^= bit;
        }
        j ^= bit;
        if (i < j) {
            std::swap(a[i], a[j]);
        }
    }
    for (size_t length = 2; length <= n; length <<= 1) {
        const double angle = (inverse ? 2 : -2) * 3.141592653589793 / static_cast<double>(length);
        const std::complex<double> step(std::cos(angle), std::sin(angle));
        for (size_t start = 0; start < n; start += length) {
            std::complex<double> w(1, 0);
            for (size_t k = 0; k < length / 2; ++k) {
                const std::complex<double> u = a[start + k];
                const std::complex<double> v = a[start + k + length / 2] * w;
                a[start + k] = u + v;
                a[start + k + length / 2] = u - v;
                w *= step;
            }
        }
    }
}

}  // namespace

std::vector<double> power_law_phase(int alpha, size_t points, uint64_t seed) {
    Random random = {seed};
    std::vector<double> white(points);
    fill_normal(random, white);
    if (alpha == 2) {
        return white;
    }
    const double half_order = (2.0 - alpha) / 2;
    size_t size = 1;
    while (size < 2 * points) {
        size <<= 1;
    }
    std::vector<std::complex<double>> filter(size);
    std::vector<std::complex<double>> signal(size);
    double h = 1;
    for (size_t k = 0; k < points; ++k) {
        h = k == 0 ? 1 : h * (static_cast<double>(k) - 1 + half_order) / static_cast<double>(k);
        filter[k] = h;
        signal[k] = white[k];
    }
    fft(filter, false);
    fft(signal, false);
    for (size_t i = 0; i < size; ++i) {
        signal[i] *= filter[i];
    }
    fft(signal, true);
    std::vector<double> phase(points);
    for (size_t i = 0; i < points; ++i) {
        phase[i] = signal[i].real() / static_cast<double>(size);
    }
    return phase;
}
