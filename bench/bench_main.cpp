// One program for the benchmarks that run under Wine; bench/run calls it once per benchmark.
#include <cstdio>
#include <cstring>

#include "bench/bench_common.h"

namespace {
struct Benchmark {
    const char* Name;
    int (*Run)(const BenchOptions&);
};

const Benchmark Benchmarks[] = {
    {"regions", RegionBench},     {"startup", StartupBench},     {"memory", MemoryBench},
    {"exchange", ExchangeBench},  {"catalogue", CatalogueBench}, {"pause", PauseBench},
};
}

int main(int argc, char** argv)
{
    // Lines reach the log in order with the shell's own output.
    std::setvbuf(stdout, nullptr, _IONBF, 0);
    for (const Benchmark& benchmark : Benchmarks)
        if (argc > 1 && std::strcmp(argv[1], benchmark.Name) == 0)
            return benchmark.Run(BenchOptions(argc, argv, 2));
    std::fprintf(stderr, "usage: starter_bench regions|startup|memory|exchange|catalogue|pause [--name value]...\n");
    return 2;
}
