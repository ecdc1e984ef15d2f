// The key-down handler: the game's commands and the flow between screens.
#include "game/SlabixView.h"

namespace {
const char kPagePrompt[] =
    "To continue playing, press the space bar. To print the instructions, press the Ctrl and P keys. \n"
    "To exit, press the Alt and F4 keys.";
}

void CSlabixView::OnKeyDown(UINT nChar, UINT nRepCnt, UINT nFlags)
{
    if (m_bHalted == 1)
        return;

    CClientDC dc(this);
    dc.SetBkMode(TRANSPARENT);

    switch (nChar) {
    case VK_SPACE:
        if (m_nStage == 0) {
            dc.FillRect(m_rcClient, &m_brWhite);
            m_nStage = 1;
            DrawBoard();
        } else if (m_nStage == 1) {
            dc.FillRect(m_rcClient, &m_brWhite);
            DrawBoard();
        } else if (m_nStage == 2 || m_nStage == 3) {
            SetUpGame(0);
            dc.FillRect(m_rcClient, &m_brWhite);
            m_nStage = 1;
            DrawBoard();
        }
        break;

    case VK_F1:
        if (m_nStage == 1)
            DrawInstructionsPage(&dc, kPagePrompt);
        break;

    case VK_END:
        if (m_nStage >= 1)
            EndCommand(&dc);
        break;

    case VK_LEFT:
    case VK_UP:
    case VK_RIGHT:
    case VK_DOWN:
        // Hand moves: one step for each key-down, auto-repeats included.
        if (m_nStage == 1 && m_nCurStone >= 0 && m_nCurStone < NUM_STONES) {
            static constexpr EStep kSteps[] = {STEP_LEFT, STEP_UP, STEP_RIGHT, STEP_DOWN};
            HandStep(kSteps[nChar - VK_LEFT], &dc);
        }
        break;

    default:
        break;
    }
}
