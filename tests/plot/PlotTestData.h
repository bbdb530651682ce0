#pragma once

// Data sets for the chart's rendering tests, benchmark and screenshot.

#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

namespace pom::test {

struct Sample {
    double t;  // day number
    double v;
};

inline constexpr double kDaySec = 1.0 / 86400;

// A random walk, one reading every `stepSec` seconds.
inline std::vector<Sample> RandomWalk(int n, double t0, double stepSec, std::uint32_t seed) {
    std::mt19937 rng(seed);
    std::normal_distribution<double> d(0, 0.3);
    std::vector<Sample> out;
    out.reserve(static_cast<std::size_t>(n));
    double v = 20;
    for (int i = 0; i < n; ++i) out.push_back({t0 + i * stepSec * kDaySec, v += d(rng)});
    return out;
}

// A flat line with rare tall spikes up and down.
inline std::vector<Sample> Spikes(int n, double t0, double stepSec, std::uint32_t seed) {
    std::mt19937 rng(seed);
    std::uniform_int_distribution<int> pick(0, 199);
    std::vector<Sample> out;
    for (int i = 0; i < n; ++i) {
        const int p = pick(rng);
        out.push_back({t0 + i * stepSec * kDaySec, p == 0 ? 80.0 : p == 1 ? -40.0 : 10.0});
    }
    return out;
}

// Long runs of equal values with steps between them.
inline std::vector<Sample> FlatRuns(int n, double t0, double stepSec, std::uint32_t seed) {
    std::mt19937 rng(seed);
    std::uniform_int_distribution<int> len(1, 30);
    std::uniform_int_distribution<int> level(-5, 25);
    std::vector<Sample> out;
    double v = 0;
    int left = 0;
    for (int i = 0; i < n; ++i) {
        if (left-- <= 0) {
            left = len(rng);
            v = level(rng);
        }
        out.push_back({t0 + i * stepSec * kDaySec, v});
    }
    return out;
}

// One day of a station channel: a daily swing, weather drift and sensor noise.
inline std::vector<Sample> DayOfChannel(int channel, double dayStart, double stepSec,
                                        std::uint32_t seed) {
    std::mt19937 rng(seed + static_cast<std::uint32_t>(channel));
    std::normal_distribution<double> noise(0, 0.05);
    std::normal_distribution<double> drift(0, 0.01);
    const double base[] = {21.5, 4.0, 12.0, 7.5};
    const double swing[] = {1.5, 6.0, 3.0, 2.0};
    const int n = static_cast<int>(86400 / stepSec);
    std::vector<Sample> out;
    double w = 0;
    for (int i = 0; i < n; ++i) {
        const double frac = i * stepSec / 86400;
        w += drift(rng);
        const double v =
            base[channel] - swing[channel] * std::cos(2 * M_PI * (frac - 0.1)) + w + noise(rng);
        out.push_back({dayStart + frac, std::round(v * 100) / 100});
    }
    return out;
}

}  // namespace pom::test
