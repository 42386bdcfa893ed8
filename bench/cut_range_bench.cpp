// Times cut_range against a plain block copy of the same ranges of the same
// file, warm in the page cache.
#include "cut_range.hpp"

#include <benchmark/benchmark.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

constexpr std::int64_t largest = std::int64_t{1} << 28;

fs::path dir;
std::string source;
std::string output;
std::int64_t source_size = 0;
bool failed = false;

void fail(benchmark::State &state, const char *why)
{
    failed = true;
    state.SkipWithError(why);
}

// One source for every range, grown to the longest asked for so far and
// read back once, so that it is warm in the page cache.
void ensure_source(std::int64_t size)
{
    if (size <= source_size)
        return;
    std::vector<char> block(1 << 16);
    for (std::size_t i = 0; i < block.size(); ++i)
        block[i] = static_cast<char>(i * 37 + (i >> 8));
    std::ofstream out(source, std::ios::binary | std::ios::app);
    for (; source_size < size; source_size += static_cast<std::int64_t>(block.size()))
        out.write(block.data(), static_cast<std::streamsize>(block.size()));
    out.close();
    std::ifstream in(source, std::ios::binary);
    while (in.read(block.data(), static_cast<std::streamsize>(block.size()))) {
    }
}

// The process's peak resident memory so far, in KiB. A cut must not raise
// it, whatever the length of the range: no range is ever held in memory.
double peak_rss_kib()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_maxrss);
}

void BM_CutRange(benchmark::State &state)
{
    ensure_source(state.range(0));
    const double peak_before = peak_rss_kib();
    const auto last = static_cast<std::int32_t>(state.range(0) - 1);
    for (auto _ : state) { // NOLINT(clang-analyzer-deadcode.DeadStores)
        if (!cut_range(source.c_str(), output.c_str(), 0, last))
            fail(state, "cut_range failed");
    }
    state.SetBytesProcessed(state.iterations() * state.range(0));
    state.counters["peak_rss_growth_KiB"] = peak_rss_kib() - peak_before;
}

void BM_BlockCopy(benchmark::State &state)
{
    ensure_source(state.range(0));
    std::vector<char> block(1 << 16);
    for (auto _ : state) { // NOLINT(clang-analyzer-deadcode.DeadStores)
        std::FILE *in = std::fopen(source.c_str(), "rb");
        std::FILE *out = std::fopen(output.c_str(), "wb");
        bool ok = in != nullptr && out != nullptr;
        for (std::int64_t left = state.range(0); ok && left > 0;) {
            const std::size_t want = left < static_cast<std::int64_t>(block.size())
                                         ? static_cast<std::size_t>(left)
                                         : block.size();
            const std::size_t got = std::fread(block.data(), 1, want, in);
            ok = got == want && std::fwrite(block.data(), 1, got, out) == got;
            left -= static_cast<std::int64_t>(got);
        }
        if (in != nullptr)
            (void)std::fclose(in);
        if (out != nullptr && std::fclose(out) != 0)
            ok = false;
        if (!ok)
            fail(state, "block copy failed");
    }
    state.SetBytesProcessed(state.iterations() * state.range(0));
}

void sizes(benchmark::internal::Benchmark *b)
{
    for (std::int64_t n = std::int64_t{1} << 16; n <= largest; n <<= 4)
        b->Arg(n);
    b->Unit(benchmark::kMillisecond)->UseRealTime();
}

BENCHMARK(BM_CutRange)->Apply(sizes);
BENCHMARK(BM_BlockCopy)->Apply(sizes);

// Runs the benchmarks that the command line asks for. A run that measured
// nothing, or failed to, is no measurement.
int run(int argc, char **argv)
{
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    dir = fs::temp_directory_path() / ("romcutter-bench-" + std::to_string(getpid()));
    fs::create_directories(dir);
    source = (dir / "SOURCE.BIN").string();
    output = (dir / "OUTPUT.ROM").string();
    const std::size_t ran = benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    std::error_code ignored;
    fs::remove_all(dir, ignored);
    if (ran == 0)
        std::cerr << "no benchmark matches the filter\n";
    return ran == 0 || failed ? 1 : 0;
}

} // namespace

int main(int argc, char **argv)
{
    // cut_range prints a line for every cut: send those to /dev/null and
    // the report, in whichever format is asked for, to the original
    // standard output.
    std::ofstream report("/dev/fd/" + std::to_string(dup(STDOUT_FILENO)));
    if (std::freopen("/dev/null", "w", stdout) == nullptr)
        return 1;
    std::streambuf *const console = std::cout.rdbuf(report.rdbuf());
    const int status = run(argc, argv);
    std::cout.rdbuf(console);
    return status;
}
