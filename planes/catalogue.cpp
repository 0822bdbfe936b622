#include "planes/catalogue.h"

#include <commctrl.h>
#include <vector>

#include "app/base/app_state.h"
#include "online/http_exchange.h"
#include "planes/plane_list.h"

bool RequestCataloguePage(int32_t from, int32_t count, std::string& body)
{
    const HttpRequest request = {"GETPLANES_PHP", "_getplanes.php",
                                 "?style=1&from=" + std::to_string(from) + "&num=" + std::to_string(count),
                                 AnswerMode::ReadBody, &body};
    return HttpExchange(request) == HttpOutcome::Answered;
}

namespace {
// Stops the list from redrawing until the holder ends: the list would otherwise update its
// scroll bars for every row it loses or gains, which costs milliseconds a row under Wine.
class RedrawPause {
public:
    explicit RedrawPause(HWND list) : List(list) { SendMessageA(List, WM_SETREDRAW, FALSE, 0); }
    ~RedrawPause() { SendMessageA(List, WM_SETREDRAW, TRUE, 0); }
    RedrawPause(const RedrawPause&) = delete;
    RedrawPause& operator=(const RedrawPause&) = delete;

private:
    HWND List;
};

void ReplaceRows(HWND list, const PlaneEntry* entries, int64_t count)
{
    RedrawPause pause(list);
    SendMessageA(list, LVM_DELETEALLITEMS, 0, 0);
    for (int64_t row = 0; row < count; ++row)
        AddPlaneRow(list, entries[row], static_cast<int>(row));
}

// A page as long as the one on display takes over its rows, so the list's size and scroll
// bars do not change at all; the rows end up as ReplaceRows would leave them.
void ShowRows(HWND list, const PlaneEntry* entries, int64_t count)
{
    if (SendMessageA(list, LVM_GETITEMCOUNT, 0, 0) == count) {
        for (int64_t row = 0; row < count; ++row)
            RewritePlaneRow(list, entries[row], static_cast<int>(row));
    } else {
        ReplaceRows(list, entries, count);
    }
    SelectFirstRow(list);
    // Rows rewritten in place keep the scroll position, which can hide the selected row.
    SendMessageA(list, LVM_ENSUREVISIBLE, 0, FALSE);
}
}

bool ShowCataloguePage(HWND list, int32_t from, int32_t count)
{
    const int64_t stored = static_cast<int64_t>(App.CatalogueEntries.size());
    if (from < 0)
        return false;
    if (from < stored) {
        std::vector<PlaneEntry> page;
        int64_t j = from;
        for (; j < int64_t(from) + count && j < App.CatalogueTotal && j < stored; ++j)
            page.push_back(App.CatalogueEntries[j]);
        ShowRows(list, page.data(), page.size());
        App.CatalogueFirst = from;
        App.CatalogueEnd = static_cast<int32_t>(j);
        return true;
    }
    // Pages are appended in order, so element i stays catalogue entry i; a gap would break that.
    if (from != stored)
        return false;
    std::string body;
    if (!RequestCataloguePage(from, count, body))
        return false;
    std::vector<PlaneEntry> page;
    const int32_t end = ParseCataloguePage(body, from, count, App.CatalogueTotal, page);
    ShowRows(list, page.data(), page.size());
    App.CatalogueEntries.insert(App.CatalogueEntries.end(), page.begin(), page.end());
    App.CatalogueFirst = from;
    App.CatalogueEnd = end;
    return true;
}
