// Benchmark 1: the fast region builder against the literal one (a pixel read per pixel and
// a union per run) on the main bitmap and every other bitmap that shapes a window.
#include <algorithm>
#include <cstdio>
#include <vector>

#include "app/base/app_state.h"
#include "app/base/lang_text.h"
#include "app/language.h"
#include "app/base/text_number.h"
#include "bench/bench_common.h"
#include "ui/skin.h"

namespace {
constexpr int LanguageCount = 3;

// The bitmaps loaded with a region: the main window, each button's normal face and the
// description picture each language starts with.
std::vector<int> ShapingBitmaps()
{
    std::vector<int> ids = {IDB_MAIN};
    for (const SkinButton* row = App.ButtonTable; row->normalBitmap != 0; ++row)
        if (std::find(ids.begin(), ids.end(), row->normalBitmap) == ids.end())
            ids.push_back(row->normalBitmap);
    for (int language = 0; language < LanguageCount; ++language) {
        App.LanguageIndex = language;
        ids.push_back(LeadingNumber32(LoadLangString(IDS_DESC_DEFAULT)));
    }
    App.LanguageIndex = EnglishLanguage;
    return ids;
}

struct BuildTimes {
    std::vector<double> Fast, Literal;
    bool Equal = true;
    int Width = 0, Height = 0;
};

// Each run builds into fresh skins that share the one bitmap; the regions are compared
// and deleted afterwards.
void TimeOneRun(HBITMAP bitmap, BuildTimes& times)
{
    Skin fast, literal;
    fast.Bitmap = literal.Bitmap = bitmap;
    const Stopwatch fastClock;
    fast.BuildRegion(nullptr);
    times.Fast.push_back(fastClock.Milliseconds());
    const Stopwatch literalClock;
    literal.BuildRegionByPixels(nullptr);
    times.Literal.push_back(literalClock.Milliseconds());
    times.Equal = times.Equal && EqualRgn(fast.Region, literal.Region) && fast.Width == literal.Width &&
                  fast.Height == literal.Height;
    times.Width = fast.Width;
    times.Height = fast.Height;
    DeleteObject(fast.Region);
    DeleteObject(literal.Region);
}

void PrintRow(const char* name, double fast, double literal, bool equal)
{
    std::printf("  %-22s %10.3f %12.3f %9.1fx   %s\n", name, fast, literal, literal / fast,
                equal ? "equal" : "DIFFERENT");
}
}

int RegionBench(const BenchOptions& options)
{
    const int runs = options.Number("runs", 5);
    const std::string dll = options.Text("dll", "starter.dll");
    HMODULE library = LoadLibraryA(dll.c_str());
    if (!library) {
        std::printf("regions: cannot load %s\n", dll.c_str());
        return 1;
    }
    std::printf("1. region builders, fast vs literal, %d runs each\n", runs);
    std::printf("  %-22s %10s %12s %10s\n", "bitmap (size)", "fast ms", "literal ms", "ratio");
    bool allEqual = true;
    double fastSum = 0, literalSum = 0, mainFast = 0, mainRatio = 0;
    for (int id : ShapingBitmaps()) {
        Skin loaded;
        if (!loaded.Load(nullptr, library, id, false)) {
            std::printf("  bitmap %d: not in the library\n", id);
            return 1;
        }
        BuildTimes times;
        for (int run = 0; run < runs; ++run)
            TimeOneRun(loaded.Bitmap, times);
        const double fast = Median(times.Fast), literal = Median(times.Literal);
        char name[64];
        std::snprintf(name, sizeof name, "%d (%dx%d)", id, times.Width, times.Height);
        PrintRow(name, fast, literal, times.Equal);
        allEqual = allEqual && times.Equal;
        fastSum += fast;
        literalSum += literal;
        if (id == IDB_MAIN) {
            mainFast = fast;
            mainRatio = literal / fast;
        }
        DeleteObject(loaded.Bitmap);
        DeleteObject(loaded.Region);
    }
    PrintRow("all, summed medians", fastSum, literalSum, allEqual);
    PrintTarget("bitmap 3: fast builder at least 20x faster", mainRatio >= 20);
    PrintTarget("all shaping bitmaps: fast builder at least 20x faster", literalSum >= 20 * fastSum);
    PrintTarget("bitmap 3: fast builder under 5 ms", mainFast < 5);
    FreeLibrary(library);
    if (!allEqual)
        std::printf("regions: the fast region differs from the literal one\n");
    return allEqual ? 0 : 1;
}
