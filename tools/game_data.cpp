// Writes the game's fixed data from its own tables as JSON: the stone colours
// (0x00BBGGRR), the start places of the layouts (left, top, right, bottom,
// right and bottom exclusive), the dirt colour and the patio's outline
// rectangle. The build puts it next to the program for the end-to-end checks.
//
//     slabix_game_data [FILE]     (standard output without FILE)
#include "game/SlabixView.h"

#include <cstdio>

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
    std::fprintf(pOut, "  ],\n  \"dirt\": %u,\n  \"patio\": [%d, %d, %d, %d]\n}\n", unsigned(CR_DIRT), RC_PATIO.left,
                 RC_PATIO.top, RC_PATIO.right, RC_PATIO.bottom);
    bool bOk = std::ferror(pOut) == 0;
    if (pOut != stdout)
        bOk = std::fclose(pOut) == 0 && bOk;
    return bOk ? 0 : 1;
}
