// One 384-byte read_memory_masked, as "dump" and every chunk of "dis " make it, with
// n breakpoints in the table of which k lie inside the range. Reports the platform reads
// per dump (at most k + 1) and the time per dump against the fake debuggee memory.
#include <benchmark/benchmark.h>

#include <cstring>
#include <string>
#include <vector>

#include "breakpoints/bp_table.h"
#include "breakpoints/masked_read.h"
#include "console/listing.h"
#include "core/debug_core.h"
#include "tests/fake/fake_platform.h"

namespace {

const uint32_t START = 0x401000;
const uint32_t LENGTH = LISTING_READ_SIZE;
const uint32_t ABOVE = START + 0x1000; // breakpoints outside the range go here

uint8_t original_byte(uint32_t address) {
    return static_cast<uint8_t>(address * 13 + 5);
}

// A fresh fake debuggee with `total` breakpoints, `inside` of them spread over the range.
void prepare(uint32_t total, uint32_t inside) {
    fake::reset();
    debuggee_process.store(fake::process_handle());
    std::vector<uint8_t> bytes(0x2000);
    for (uint32_t i = 0; i < bytes.size(); i++)
        bytes[i] = original_byte(START + i);
    fake::map_memory(START, bytes);

    std::vector<uint32_t> addresses;
    // Evenly spread with a gap in front of each, so that every one costs a read of its own.
    uint32_t spacing = inside == 0 ? 1 : LENGTH / inside;
    for (uint32_t i = 0; i < inside; i++)
        addresses.push_back(START + spacing / 2 + i * spacing);
    for (uint32_t i = inside; i < total; i++)
        addresses.push_back(ABOVE + 3 * i);
    bp_count = static_cast<uint8_t>(total);
    uint32_t low = BP_SLOTS - total;
    for (uint32_t i = 0; i < total; i++) {
        bp_table[low + i] = bp_entry{addresses[i], original_byte(addresses[i])};
        fake::map_memory(addresses[i], {0xCC});
    }
}

void masked_dump(benchmark::State &state) {
    const uint32_t total = static_cast<uint32_t>(state.range(0));
    const uint32_t inside = static_cast<uint32_t>(state.range(1));
    prepare(total, inside);
    uint8_t buffer[LENGTH];

    // The result must be right before it is worth timing.
    if (read_memory_masked(START, LENGTH, buffer) != 0) {
        state.SkipWithError("the masked read failed");
        return;
    }
    for (uint32_t i = 0; i < LENGTH; i++)
        if (buffer[i] != original_byte(START + i)) {
            state.SkipWithError("the buffer does not hold the original bytes");
            return;
        }
    size_t reads_of_one = fake::reads().size();
    if (reads_of_one > inside + 1) {
        state.SkipWithError("more than k + 1 platform reads");
        return;
    }

    // The fake logs every transfer; start afresh now and then so the log stays small.
    uint64_t reads = 0;
    prepare(total, inside);
    for (auto _ : state) {
        uint8_t result = read_memory_masked(START, LENGTH, buffer);
        benchmark::DoNotOptimize(result);
        benchmark::ClobberMemory();
        if (fake::reads().size() > (1u << 20)) {
            state.PauseTiming();
            reads += fake::reads().size();
            prepare(total, inside);
            state.ResumeTiming();
        }
    }
    reads += fake::reads().size();

    double dumps = static_cast<double>(state.iterations());
    state.counters["breakpoints"] = total;
    state.counters["k"] = inside;
    state.counters["reads_per_dump"] = static_cast<double>(reads) / dumps;
    state.counters["time_per_dump"] =
        benchmark::Counter(dumps, benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

} // namespace

BENCHMARK(masked_dump)
    ->ArgNames({"n", "k"})
    ->Args({0, 0})
    ->Args({1, 0})
    ->Args({1, 1})
    ->Args({16, 0})
    ->Args({16, 1})
    ->Args({16, 16})
    ->Args({255, 0})
    ->Args({255, 1})
    ->Args({255, 16})
    ->Args({255, 255});

BENCHMARK_MAIN();
