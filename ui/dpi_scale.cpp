#include "ui/dpi_scale.h"

#include <algorithm>

#include "res/resource.h"

namespace {
// By size, smallest first.
constexpr ArtSet Sets[ArtSetCount] = {
    {LayoutDpi, 0}, {LayoutDpi * 3 / 2, IDB_SET_150_OFFSET}, {LayoutDpi * 2, IDB_SET_200_OFFSET}};

// The smallest whole number at least numerator / denominator, for a positive denominator.
int64_t CeilDiv(int64_t numerator, int64_t denominator)
{
    return numerator >= 0 ? (numerator + denominator - 1) / denominator : -(-numerator / denominator);
}

// The first target pixel whose centre lies on source pixel `from` or beyond.
int32_t FirstTargetAt(int32_t from, int32_t size, int32_t toSize)
{
    const int64_t first = CeilDiv(2 * int64_t(from) * toSize - size, 2 * int64_t(size));
    return static_cast<int32_t>(std::clamp<int64_t>(first, 0, toSize));
}
}

int32_t ScaleBetween(int32_t value, int fromDpi, int toDpi)
{
    const int64_t twice = 2 * int64_t(value) * toDpi;
    const int64_t half = value < 0 ? -int64_t(fromDpi) : int64_t(fromDpi);
    return static_cast<int32_t>((twice + half) / (2 * int64_t(fromDpi)));
}

std::array<ArtSet, ArtSetCount> ArtSetsFor(int dpi)
{
    const auto larger = std::find_if(std::begin(Sets), std::end(Sets), [&](const ArtSet& set) { return set.Dpi >= dpi; });
    const ArtSet* best = larger != std::end(Sets) ? larger : &Sets[ArtSetCount - 1];
    std::array<ArtSet, ArtSetCount> order = {*best};
    int next = 1;
    for (int i = ArtSetCount - 1; i >= 0; --i)
        if (&Sets[i] != best)
            order[next++] = Sets[i];
    return order;
}

std::vector<PixelRun> ScaleRuns(const std::vector<PixelRun>& runs, int32_t width, int32_t height, int32_t toWidth,
                                int32_t toHeight)
{
    std::vector<PixelRun> scaled;
    if (width < 1 || height < 1 || toWidth < 1 || toHeight < 1)
        return scaled;
    std::size_t first = 0;   // the first run of the source row in use; rows only go down
    for (int32_t y = 0; y < toHeight; ++y) {
        const int32_t from = static_cast<int32_t>((2 * int64_t(y) + 1) * height / (2 * int64_t(toHeight)));
        while (first < runs.size() && runs[first].y < from)
            ++first;
        for (std::size_t i = first; i < runs.size() && runs[i].y == from; ++i) {
            const int32_t left = FirstTargetAt(runs[i].left, width, toWidth);
            const int32_t right = FirstTargetAt(runs[i].right, width, toWidth);
            if (left >= right)
                continue;
            // A gap narrower than a target pixel closes: the runs either side become one.
            if (!scaled.empty() && scaled.back().y == y && scaled.back().right >= left)
                scaled.back().right = std::max(scaled.back().right, right);
            else
                scaled.push_back({left, right, y});
        }
    }
    return scaled;
}
