// Benchmark 4: the page buttons of the download browser over a catalogue already in memory:
// the command until it returns to the message loop, and, for information, the paint of the
// list that the system does afterwards. No network is involved.
#include <windows.h>
#include <commctrl.h>
#include <cstdio>
#include <cstring>
#include <vector>

#include "app/base/app_state.h"
#include "bench/bench_common.h"
#include "planes/browser.h"
#include "planes/catalogue.h"
#include "ui/skin_windows.h"
#include "ui/message_pump.h"

namespace {
constexpr int CachedPages = 2;

// Entries shaped like those of the reference server's seeded catalogue.
void FillCatalogue()
{
    App.CatalogueEntries.clear();
    for (int i = 1; i <= CachedPages * CataloguePageSize; ++i) {
        PlaneEntry entry;
        std::snprintf(entry.Name, sizeof entry.Name, "Design %03d", i);
        std::snprintf(entry.FileName, sizeof entry.FileName, "5eed%04x.plane", i);
        std::snprintf(entry.ExtraText, sizeof entry.ExtraText, "pilot%d@example.org", i);
        entry.Costs = 1000 * i;
        entry.Weight = 500 + i;
        entry.Consumption = 10 + i % 50;
        entry.Noise = 7 * i % 100;
        entry.Reliability = 13 * i % 100;
        entry.Velocity = 300 + i;
        entry.Range = 1000 + 10 * i;
        App.CatalogueEntries.push_back(entry);
    }
    App.CatalogueTotal = CachedPages * CataloguePageSize;
}

std::string FirstRowName(HWND list)
{
    char name[64] = {};
    LVITEMA item = {};
    item.iSubItem = 0;
    item.pszText = name;
    item.cchTextMax = sizeof name;
    SendMessageA(list, LVM_GETITEMTEXTA, 0, reinterpret_cast<LPARAM>(&item));
    return name;
}

// The page the list shows is the page asked for: 17 rows, the right first entry.
bool ShowsPage(HWND list, int first)
{
    char expected[32];
    std::snprintf(expected, sizeof expected, "Design %03d", first + 1);
    return App.CatalogueFirst == first && SendMessageA(list, LVM_GETITEMCOUNT, 0, 0) == CataloguePageSize &&
           FirstRowName(list) == expected;
}
}

int CatalogueBench(const BenchOptions& options)
{
    const int runs = options.Number("runs", 200);
    if (!OpenStarterWindow(options.Text("dll", "starter.dll"), options.Text("dir")) ||
        !OpenBrowser(App.MainWindow, DownloadMode)) {
        std::printf("catalogue: the browser could not be opened\n");
        return 1;
    }
    const HWND list = App.BrowserWindows[0];
    FillCatalogue();
    ShowCataloguePage(list, 0, CataloguePageSize);
    UpdatePageButtons();
    std::printf("4. a cached catalogue page of %d rows, page buttons in turn, %d runs\n", CataloguePageSize, runs);
    std::vector<double> command, paint, both;
    bool ok = true;
    for (int run = 0; ok && run < runs; ++run) {
        PumpMessages();
        const bool forward = run % 2 == 0;
        const Stopwatch clock;
        forward ? ShowNextPage() : ShowPreviousPage();
        const double shown = clock.Milliseconds();
        UpdateWindow(list);
        const double painted = clock.Milliseconds();
        command.push_back(shown);
        paint.push_back(painted - shown);
        both.push_back(painted);
        ok = ShowsPage(list, forward ? CataloguePageSize : 0);
    }
    DestroyWindow(App.MainWindow);
    if (!ok) {
        std::printf("catalogue: the list does not show the page asked for\n");
        return 1;
    }
    PrintFigure("page command (rows filled)", command);
    PrintFigure("paint of the list that follows", paint);
    PrintFigure("command and paint", both);
    PrintTarget("page command under 2 ms", Median(command) < 2);
    return 0;
}
