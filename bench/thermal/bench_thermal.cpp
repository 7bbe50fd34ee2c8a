// Export of a long temperature log: the workbook with its chart, and the CSV.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "thermal/workbook.h"

namespace {

std::vector<zelbo::thermal::LogRow> makeLog(int n)
{
    std::vector<zelbo::thermal::LogRow> rows;
    rows.reserve(std::size_t(n));
    for (int i = 0; i < n; ++i)
        rows.push_back({std::to_string(i + 1), std::to_string(100 + i % 900), std::to_string(25 + i % 60) + ".37",
                        std::to_string(620 - i % 120)});
    return rows;
}

std::string scratch(const char* name)
{
    return (std::filesystem::temp_directory_path() / name).string();
}

void BM_ExportWorkbook(benchmark::State& state)
{
    const auto rows = makeLog(int(state.range(0)));
    const std::string path = scratch("zelbo-bench-thermal.xlsx");
    std::string error;
    for (auto _ : state) {
        if (!zelbo::thermal::writeWorkbook(path, "TQ51701", rows, &error)) state.SkipWithError(error.c_str());
    }
    state.counters["bytes"] = double(std::filesystem::file_size(path));
    std::filesystem::remove(path);
}
BENCHMARK(BM_ExportWorkbook)->Arg(10000)->Unit(benchmark::kMillisecond);

void BM_ExportCsv(benchmark::State& state)
{
    const auto rows = makeLog(int(state.range(0)));
    const std::string path = scratch("zelbo-bench-thermal.csv");
    std::string error;
    for (auto _ : state) {
        if (!zelbo::thermal::writeLogCsv(path, "TQ51701", rows, &error)) state.SkipWithError(error.c_str());
    }
    std::filesystem::remove(path);
}
BENCHMARK(BM_ExportCsv)->Arg(10000)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
