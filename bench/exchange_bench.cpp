// Benchmark 3: one hiscore exchange against the reference server, against the exchange's
// own status steps and fixed pauses (4 x 200 ms + 250 ms) run without the network.
#include <cstdio>
#include <vector>

#include "app/base/app_state.h"
#include "app/base/text_number.h"
#include "bench/bench_common.h"
#include "online/hiscore_file.h"
#include "online/http_exchange.h"
#include "ui/message_pump.h"
#include "ui/status_dialog.h"

namespace {
constexpr double FixedPauses = 4 * 200 + 250;
constexpr double AllowedOverhead = 60;
constexpr double ProcessorShare = 0.10;

struct Sample {
    std::vector<double> Wall, Processor;
};

// The calls of an exchange that show and pace, in the exchange's order, with no request.
bool RunPauses()
{
    OpenStatus(0, 4);
    SetStatusText(IDS_CONNECTING_NET);
    SetStatusText(IDS_CONNECTING_SRV);
    StepStatus();
    SetStatusText(IDS_TRANSMIT_DATA);
    StepStatus();
    StepStatus();
    SetStatusText(IDS_CLOSING_NET);
    StepStatus();
    BusyWait(250);
    CloseStatus();
    return true;
}

// The exchange of the Hiscore command; the server answers with the rank.
bool RunExchange()
{
    std::string body;
    const HttpRequest request = {"ADDSCORE_PHP", "_addscore.php", HiscoreQuery("Bench Pilot", 4200000, "bench@example.org"),
                                 AnswerMode::ReadBody, &body};
    if (HttpExchange(request) != HttpOutcome::Answered || LeadingNumber32(body) < 1) {
        std::printf("  the exchange failed; answer: %s\n", body.c_str());
        return false;
    }
    return true;
}

template <class Action>
bool Measure(Action action, Sample& sample)
{
    PumpMessages();
    const double processorBefore = ProcessorMilliseconds();
    const Stopwatch clock;
    if (!action())
        return false;
    sample.Wall.push_back(clock.Milliseconds());
    sample.Processor.push_back(ProcessorMilliseconds() - processorBefore);
    return true;
}
}

int ExchangeBench(const BenchOptions& options)
{
    const int runs = options.Number("runs", 5);
    if (!OpenStarterWindow(options.Text("dll", "starter.dll"), options.Text("dir"))) {
        std::printf("exchange: the Starter's window could not be made\n");
        return 1;
    }
    std::printf("3. one hiscore exchange vs the fixed pauses alone, %d runs each in turn\n", runs);
    Sample pauses, exchange;
    bool ok = true;
    for (int run = 0; ok && run < runs; ++run)
        ok = Measure(RunPauses, pauses) && Measure(RunExchange, exchange);
    DestroyWindow(App.MainWindow);
    if (!ok)
        return 1;
    PrintFigure("fixed pauses alone, wall", pauses.Wall);
    PrintFigure("fixed pauses alone, processor", pauses.Processor);
    PrintFigure("hiscore exchange, wall", exchange.Wall);
    PrintFigure("hiscore exchange, processor", exchange.Processor);
    const double wall = Median(exchange.Wall), processor = Median(exchange.Processor);
    std::printf("  ratio exchange / pauses (wall): %.3f; exchange - %.0f ms = %+.1f ms; processor %.1f%% of wall\n",
                wall / Median(pauses.Wall), FixedPauses, wall - FixedPauses, 100 * processor / wall);
    PrintTarget("wall time at most 1.05 s + 60 ms", wall <= FixedPauses + AllowedOverhead);
    PrintTarget("processor time at most 10% of wall time", processor <= ProcessorShare * wall);
    return 0;
}
