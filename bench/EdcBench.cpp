// SPDX-License-Identifier: GPL-2.0-or-later
// SPDX-FileCopyrightText: The cdrw-fwupdate developers
// ComputeEdc beside zlib's crc32 on the same buffer of a full image's size.
#include <benchmark/benchmark.h>
#include <zlib.h>

#include <cstdint>
#include <random>
#include <vector>

#include "aspi/LowMemory.h"
#include "image/Edc.h"

namespace {

const std::vector<std::uint8_t> &buffer() {
    static const std::vector<std::uint8_t> data = [] {
        std::vector<std::uint8_t> bytes(aspi::kImageCapacity - 50);
        std::mt19937 random(42);
        for (auto &b : bytes) {
            b = static_cast<std::uint8_t>(random());
        }
        return bytes;
    }();
    return data;
}

void computeEdc(benchmark::State &state) {
    const auto &data = buffer();
    for (auto _ : state) {
        benchmark::DoNotOptimize(image::ComputeEdc(data.data(), data.size(), nullptr));
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * data.size()));
}

void zlibCrc32(benchmark::State &state) {
    const auto &data = buffer();
    for (auto _ : state) {
        benchmark::DoNotOptimize(crc32(0L, data.data(), static_cast<uInt>(data.size())));
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * data.size()));
}

}  // namespace

BENCHMARK(computeEdc)->Unit(benchmark::kMicrosecond);
BENCHMARK(zlibCrc32)->Unit(benchmark::kMicrosecond);

BENCHMARK_MAIN();
