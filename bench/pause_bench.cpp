// The pause that paces transfers must leave the processor to others: its processor time
// against a plain spin of the same length, run by run.
#include <cstdio>
#include <vector>

#include "bench/bench_common.h"
#include "ui/status_dialog.h"

int PauseBench(const BenchOptions& options)
{
    const int runs = options.Number("runs", 5);
    const DWORD length = static_cast<DWORD>(options.Number("ms", 1000));
    std::printf("\n7. processor time of a %lu ms pause (BusyWait) against a spin, %d runs\n",
                static_cast<unsigned long>(length), runs);
    std::vector<double> pause, spin;
    for (int run = 0; run < runs; ++run) {
        double before = ProcessorMilliseconds();
        BusyWait(length);
        pause.push_back(ProcessorMilliseconds() - before);

        before = ProcessorMilliseconds();
        const DWORD start = GetTickCount();
        while (GetTickCount() - start < length) {
        }
        spin.push_back(ProcessorMilliseconds() - before);
    }
    PrintFigure("BusyWait, processor time", pause);
    PrintFigure("spin (baseline), processor time", spin);
    const double ratio = Median(spin) > 0 ? Median(pause) / Median(spin) : 0;
    std::printf("  ratio BusyWait / spin (processor): %.3f\n", ratio);
    PrintTarget("ratio at most 0.25", ratio <= 0.25);
    return 0;
}
