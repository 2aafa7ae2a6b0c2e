// Instructions per second through the adapter (disasm_decode) and through Zydis called
// directly with the same settings, over the .text sections of the test corpus; prints the
// ratio of the two at the end.
#include "disasm/disasm.h"
#include "tests/disasm/corpus.h"

#include <Zydis/Zydis.h>
#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>

namespace {

std::vector<code_section> corpus;

// Zydis as the adapter sets it up: 32-bit code, Intel syntax, "0x" prefix, memory operand
// sizes always shown, no address.
struct raw_zydis {
    ZydisDecoder decoder;
    ZydisFormatter formatter;

    raw_zydis() {
        ZydisDecoderInit(&decoder, ZYDIS_MACHINE_MODE_LEGACY_32, ZYDIS_STACK_WIDTH_32);
        ZydisFormatterInit(&formatter, ZYDIS_FORMATTER_STYLE_INTEL);
        ZydisFormatterSetProperty(&formatter, ZYDIS_FORMATTER_PROP_HEX_PREFIX,
                                  reinterpret_cast<ZyanUPointer>("0x"));
        ZydisFormatterSetProperty(&formatter, ZYDIS_FORMATTER_PROP_FORCE_SIZE, ZYAN_TRUE);
    }

    uint32_t decode(const uint8_t *code, uint32_t size, char *text) const {
        ZydisDecoderContext context;
        ZydisDecodedInstruction instruction;
        ZydisDecodedOperand operands[ZYDIS_MAX_OPERAND_COUNT_VISIBLE];
        if (!ZYAN_SUCCESS(ZydisDecoderDecodeInstruction(&decoder, &context, code,
                                                        size < 15 ? size : 15, &instruction)) ||
            !ZYAN_SUCCESS(ZydisDecoderDecodeOperands(&decoder, &context, &instruction, operands,
                                                     instruction.operand_count_visible)))
            return 1;
        ZydisFormatterFormatInstruction(&formatter, &instruction, operands,
                                        instruction.operand_count_visible, text,
                                        disasm_text_capacity, ZYDIS_RUNTIME_ADDRESS_NONE, nullptr);
        return instruction.length;
    }
};

// Walks every section linearly with `decode_one`, counting instructions.
template <typename Decode> void walk_corpus(benchmark::State &state, Decode decode_one) {
    int64_t instructions = 0;
    for (auto _ : state) {
        for (const code_section &section : corpus) {
            const uint8_t *code = section.bytes.data();
            const uint32_t size = static_cast<uint32_t>(section.bytes.size());
            for (uint32_t offset = 0; offset < size; ++instructions)
                offset += decode_one(code + offset, size - offset);
        }
    }
    state.SetItemsProcessed(instructions);
}

void adapter(benchmark::State &state) {
    static uint8_t record[disasm_record_size];
    walk_corpus(state, [](const uint8_t *code, uint32_t size) {
        const uint32_t length = disasm_decode(code, size, 0, record, 3);
        benchmark::DoNotOptimize(record);
        return length;
    });
}

void zydis_direct(benchmark::State &state) {
    static const raw_zydis zydis;
    static char text[disasm_text_capacity];
    walk_corpus(state, [](const uint8_t *code, uint32_t size) {
        const uint32_t length = zydis.decode(code, size, text);
        benchmark::DoNotOptimize(text);
        return length;
    });
}

BENCHMARK(adapter)->Unit(benchmark::kMillisecond);
BENCHMARK(zydis_direct)->Unit(benchmark::kMillisecond);

// Console output as usual, plus each benchmark's instruction rate for the closing ratio: the
// median when repetitions were asked for, else the single run.
class rate_reporter : public benchmark::ConsoleReporter {
  public:
    void ReportRuns(const std::vector<Run> &runs) override {
        for (const Run &run : runs) {
            const auto rate = run.counters.find("items_per_second");
            if (rate == run.counters.end())
                continue;
            const std::string &name = run.run_name.function_name;
            if (run.run_type == Run::RT_Aggregate && run.aggregate_name == "median")
                medians[name] = rate->second.value;
            else if (run.run_type == Run::RT_Iteration)
                singles[name] = rate->second.value;
        }
        ConsoleReporter::ReportRuns(runs);
    }

    double rate(const std::string &name) const {
        const auto median = medians.find(name);
        if (median != medians.end())
            return median->second;
        const auto single = singles.find(name);
        return single != singles.end() ? single->second : 0;
    }

  private:
    std::map<std::string, double> medians;
    std::map<std::string, double> singles;
};

} // namespace

int main(int argc, char **argv) {
    static char repetitions[] = "--benchmark_repetitions=9";
    static char interleaving[] = "--benchmark_enable_random_interleaving=true";
    std::string error;
    if (!load_corpus(DBG32_WINE_DLL_DIR, DBG32_WIN32_DIR, corpus, error)) {
        std::fprintf(stderr, "decoder_bench: %s\n", error.c_str());
        return 1;
    }
    size_t bytes = 0;
    for (const code_section &section : corpus)
        bytes += section.bytes.size();
    std::printf("corpus: %zu files, %zu bytes of code\n", corpus.size(), bytes);

    // Repeated runs in random order by default, so that a burst of load on the machine
    // affects both sides alike; flags given on the command line come later and win.
    std::vector<char *> args = {argv[0], repetitions, interleaving};
    args.insert(args.end(), argv + 1, argv + argc);
    int arg_count = static_cast<int>(args.size());
    benchmark::Initialize(&arg_count, args.data());
    if (benchmark::ReportUnrecognizedArguments(arg_count, args.data()))
        return 1;
    rate_reporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();

    const double adapter_rate = reporter.rate("adapter");
    const double zydis_rate = reporter.rate("zydis_direct");
    if (adapter_rate > 0 && zydis_rate > 0)
        std::printf("adapter %.0f instr/s, Zydis %.0f instr/s, adapter/Zydis %.3f "
                    "(overhead %.1f%%)\n",
                    adapter_rate, zydis_rate, adapter_rate / zydis_rate,
                    100 * (zydis_rate / adapter_rate - 1));
    return 0;
}
