// Writes the game's fixed data from its own tables and rules as JSON: the
// stone colours (0x00BBGGRR), the start places of the layouts (left, top,
// right, bottom, right and bottom exclusive), the dirt colour, the patio's
// outline rectangle, the units by the screen's width and height, the rows a
// game needs by width, and what the window makes of its area (the edge round
// the game's screen, the largest screen). The build puts it next to the
// program for the end-to-end checks.
//
//     slabix_game_data [FILE]     (standard output without FILE)
#include "app/ViewWidget.h"
#include "game/SlabixView.h"

#include <cstdio>
#include <utility>
#include <vector>

namespace {

// Widths from first to last that share one value.
template <typename T>
struct Band {
    int nFirst;
    int nLast;
    T value;
};

template <typename T, typename F>
std::vector<Band<T>> Bands(F valueAt)
{
    std::vector<Band<T>> bands;
    for (int nWidth = 1; nWidth <= CViewWidget::MAX_SCREEN_WIDTH; ++nWidth) {
        T value{};
        if (!valueAt(nWidth, &value))
            continue;
        if (!bands.empty() && bands.back().nLast == nWidth - 1 && bands.back().value == value)
            bands.back().nLast = nWidth;
        else
            bands.push_back({nWidth, nWidth, value});
    }
    return bands;
}

// The horizontal unit at a width, and the heights from which on each
// vertical unit holds.
using Units = std::pair<int, std::vector<std::pair<int, int>>>;

bool UnitsAt(int nWidth, Units* pUnits)
{
    int nUnitX = 0;
    int nUnitY = 0;
    if (!CSlabixView::ChooseUnits(nWidth, 0, &nUnitX, &nUnitY))
        return false;
    pUnits->first = nUnitX;
    pUnits->second = {{0, nUnitY}};
    for (int nHeight = 1; nHeight <= CViewWidget::MAX_SCREEN_HEIGHT; ++nHeight) {
        CSlabixView::ChooseUnits(nWidth, nHeight, &nUnitX, &nUnitY);
        if (nUnitY != pUnits->second.back().second)
            pUnits->second.push_back({nHeight, nUnitY});
    }
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    std::FILE* pOut = argc > 1 ? std::fopen(argv[1], "w") : stdout;
    if (!pOut) {
        std::perror(argv[1]);
        return 1;
    }
    std::fprintf(pOut, "{\n  \"stone_colours\": [");
    for (int i = 0; i < NUM_STONES; ++i)
        std::fprintf(pOut, "%s%u", i ? ", " : "", unsigned(g_crStoneColour[i]));
    std::fprintf(pOut, "],\n  \"layouts\": [\n");
    for (int n = 0; n < NUM_LAYOUTS; ++n) {
        std::fprintf(pOut, "    [");
        for (int i = 0; i < NUM_STONES; ++i) {
            const CRect& rc = g_rcLayouts[n][i];
            std::fprintf(pOut, "%s[%d, %d, %d, %d]", i ? ", " : "", rc.left, rc.top, rc.right, rc.bottom);
        }
        std::fprintf(pOut, "]%s\n", n + 1 < NUM_LAYOUTS ? "," : "");
    }
    std::fprintf(pOut, "  ],\n  \"dirt\": %u,\n  \"patio\": [%d, %d, %d, %d],\n", unsigned(CR_DIRT), RC_PATIO.left,
                 RC_PATIO.top, RC_PATIO.right, RC_PATIO.bottom);
    // [first width, last width, horizontal unit, [[from height, vertical unit], ...]]
    std::fprintf(pOut, "  \"units\": [");
    const char* pszSep = "";
    for (const auto& band : Bands<Units>(UnitsAt)) {
        std::fprintf(pOut, "%s[%d, %d, %d, [", pszSep, band.nFirst, band.nLast, band.value.first);
        for (std::size_t i = 0; i < band.value.second.size(); ++i)
            std::fprintf(pOut, "%s[%d, %d]", i ? ", " : "", band.value.second[i].first, band.value.second[i].second);
        std::fprintf(pOut, "]]");
        pszSep = ", ";
    }
    // [first width, last width, rows]
    const CSlabixView view;
    std::fprintf(pOut, "],\n  \"min_heights\": [");
    pszSep = "";
    for (const auto& band : Bands<int>([&view](int nWidth, int* pRows) { return (*pRows = view.MinClientHeight(nWidth)) > 0; })) {
        std::fprintf(pOut, "%s[%d, %d, %d]", pszSep, band.nFirst, band.nLast, band.value);
        pszSep = ", ";
    }
    std::fprintf(pOut, "],\n  \"screen_edge\": %d,\n  \"largest_screen\": [%d, %d]\n}\n", CViewWidget::EDGE,
                 CViewWidget::MAX_SCREEN_WIDTH, CViewWidget::MAX_SCREEN_HEIGHT);
    bool bOk = std::ferror(pOut) == 0;
    if (pOut != stdout)
        bOk = std::fclose(pOut) == 0 && bOk;
    return bOk ? 0 : 1;
}
