// Power-law phase noise for tests and simulations: x with spectral density
// S_x(f) ∝ f^(α−2), i.e. fractional frequency S_y(f) ∝ f^α, α = +2 white
// PM, +1 flicker PM, 0 white FM, −1 flicker FM, −2 random-walk FM.
// Kasdin and Walter's discrete model: unit-variance white noise through the
// filter of (1 − z⁻¹)^(−(2−α)/2), its impulse response
// h_0 = 1, h_k = h_{k−1} (k − 1 + (2 − α)/2) / k, by FFT convolution.
// Deterministic for a seed, on every platform (own generator, own normal
// variates).
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

std::vector<double> power_law_phase(int alpha, std::size_t points, uint64_t seed);
