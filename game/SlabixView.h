// The game view: it owns the whole state of the game and of the run.
//
// Member functions live with their subsystem: game/ (set-up, layouts,
// scoring), play/ (keys, the one-pixel step, fork-lift drags, hand moves),
// render/ (painting, board and status panel, printing).
#pragma once

#include "platform/Gdi.h"
#include "platform/Runtime.h"
#include "platform/View.h"
#include "platform/WinTypes.h"

constexpr int NUM_STONES = 12;
constexpr int NUM_LAYOUTS = 5;
constexpr int LAYOUT_ROWS = 8;     // rows 5 to 7 are spare room, never used
constexpr int PATH_POINTS = 1000;  // drag points kept per stone

constexpr COLORREF CR_DIRT = 0x00E0E8F0;

// The patio outline: outline on x = 450, 1003 and y = 350, 639.
constexpr CRect RC_PATIO(450, 350, 1004, 640);

// Sound cues.
constexpr int IDR_THUMP = 101;  // ran into another stone
constexpr int IDR_BUZZ = 102;   // would leave the game boundary

extern const COLORREF g_crStoneColour[NUM_STONES];
extern const CRect g_rcLayouts[NUM_LAYOUTS][NUM_STONES];
extern const char* const g_pszInstructions[22];
extern const char* const g_pszClosingNotice;
extern const char* const g_pszMoreGames;

class CSlabixView : public CView {
public:
    enum EStep { STEP_RIGHT, STEP_LEFT, STEP_DOWN, STEP_UP };

    CSlabixView();
    ~CSlabixView() override;

    // Painting and printing (render/).
    void OnDraw(CDC* pDC) override;
    BOOL OnPreparePrinting(CPrintInfo* pInfo) override;
    void OnBeginPrinting(CDC* pDC, CPrintInfo* pInfo) override;
    void OnPrint(CDC* pDC, CPrintInfo* pInfo) override;
    void OnEndPrinting(CDC* pDC, CPrintInfo* pInfo) override;
    void DrawBoard();
    void DrawStatusPanel();
    // The spacing units for a client area, by its size class; FALSE where the
    // width is one the game does not run at.
    static BOOL ChooseUnits(int nWidth, int nHeight, int* pUnitX, int* pUnitY);
    // Rows enough for the patio with its outline above the prompt line and
    // the status panel, which take the last 2 vertical units.
    int MinClientHeight(int nWidth) const override;

    // Input (play/).
    void OnKeyDown(UINT nChar, UINT nRepCnt, UINT nFlags) override;
    void OnLButtonDown(UINT nFlags, CPoint point) override;
    void OnLButtonUp(UINT nFlags, CPoint point) override;
    void OnMouseMove(UINT nFlags, CPoint point) override;

    // The one-pixel step of the current stone and the sound cues (play/).
    BOOL StepLeavesBoundary(EStep eStep) const;
    BOOL StepHitsStone(EStep eStep) const;
    void StepStone(EStep eStep, CDC* pDC);
    void PlaySoundCue(int nId);

    // New-game set-up (game/).
    void SetUpGame(BOOL bFirst);

    // ---- game -------------------------------------------------------------
    int m_nStage = 0;        // 0 title, 1 play, 2 scored without profit, 3 profit added
    BOOL m_bHalted = 0;      // a screen-size notice stopped the game for good
    int m_nCurStone = 0;     // the stone a drag or an arrow key moves
    int m_nLayout = 0;       // 0 to 4, shown as 1 to 5
    int m_nCost = 0;         // dollars spent on moves in this game
    int m_nBonus = 0;
    int m_nTotalProfit = 0;  // since the program started
    int m_nPenalty = 0;
    int m_nProfit = 0;
    CRect m_rcStone[NUM_STONES];
    CRect m_rcLayout[LAYOUT_ROWS][NUM_STONES];

    // ---- drag ---------------------------------------------------------------
    BOOL m_bDragging = 0;
    int m_nPathLen[NUM_STONES] = {};         // index of the newest point
    CPoint m_ptPath[NUM_STONES][PATH_POINTS];
    int m_nStepX = 0;                         // pointer displacement since the last point
    int m_nStepY = 0;
    int m_nClipLeft = 0;                      // ends of a patio segment being repainted
    int m_nClipRight = 0;
    int m_nClipTop = 0;
    int m_nClipBottom = 0;
    COLORREF m_crSample1 = 0;                 // probe pair read while scoring
    COLORREF m_crSample2 = 0;

    // ---- screen layout ------------------------------------------------------
    int m_nUnitX = 0;
    int m_nUnitY = 0;
    BOOL m_bScreenReady = 0;  // the layout below is made for this game
    CRect m_rcPatio;
    CRect m_rcClient;
    CRect m_rcFirstClient;
    CRect m_rcText;
    CRect m_rcPrompt;
    CRect m_rcCost;
    CRect m_rcLayoutNo;
    CRect m_rcWork;

    // ---- drawing objects ----------------------------------------------------
    CBrush m_brWhite;
    CBrush m_brBlack;
    CBrush m_brRed;
    CBrush m_brPaleYellow;
    CBrush m_brStone[NUM_STONES];
    CBrush m_brDirt;
    CPen m_penBlack;
    CPen m_penPaleYellow;
    CPen m_penWhite;
    CPen m_penStone[NUM_STONES];
    CPen m_penDirt;
    CFont m_fontNotice;
    CFont m_fontText;
    CFont m_fontSmall;
    CFont m_fontResults;
    CFont m_fontPrint;

    // ---- texts --------------------------------------------------------------
    crt::time_t m_timeRun = 0;
    CString m_strRunTime;
    CString m_strInstructions;
    CString m_strMoreGames;
    CString m_strTitle;
    CString m_strResults;
    CString m_strPrint;
    char m_szPanel[12] = {};
    char m_szCost[12] = {};
    char m_szPenalty[12] = {};
    char m_szDirt[12] = {};
    char m_szProfit[12] = {};
    char m_szTotal[12] = {};

private:
    // The End command: scores in stage 1, then draws the results screen.
    void EndCommand(CDC* pDC);
    void ComposeResults();
    void DrawResultsScreen(CDC* pDC);
    // A boundary or collision stop: its sound, and the drag is over.
    void StopMove(int nCue);
    // One step of a fork-lift drag with its stops and charges; FALSE when the
    // drag stopped.
    BOOL DragStep(EStep eStep, CDC* pDC);
    // One hand step for an arrow key, with its stops and charges.
    void HandStep(EStep eStep, CDC* pDC);
    // The patio and the stones as DrawBoard draws them, on a white image of
    // their own nRight by nBottom pixels: the board beyond the framebuffer's
    // edges.
    QImage DrawBoardOffScreen(int nRight, int nBottom);
    // The patio rectangle at rcPicture's place with the stones in their places
    // relative to it: all of them, or only those within 2 pixels of the patio.
    void DrawPatioPicture(CDC* pDC, const CRect& rcPicture, BOOL bOnlyOnPatio);
    // Appends a drag point, keeping the press point when the record is full.
    void RecordDragPoint(CPoint point);
    void DrawNotice(CDC* pDC, const char* pszText);
    void MakeScreenLayout();
    void DrawInstructionsPage(CDC* pDC, const char* pszPrompt);
};
