// Random input against the game view, with the game's rules checked after
// every event.
//
// The driver plays long sequences of window messages at one CSlabixView: every
// key code, button presses and releases anywhere, mouse moves of any size,
// paints, changes of the client size, print requests, in any stage. After
// every event it checks what the rules make of the state before it, judged
// from the rectangles and the screen rather than by a second copy of the
// game's code: stones never overlap and keep their size; a stone moves only
// by hand steps and drags of the current stone, each leg clear of the other
// stones, and a move stops exactly when one more step would leave the
// boundary or run into a stone, with the cue and the charge of that stop; the
// cost changes by 0, 2 or 200 and adds up to what the moves earned; the stage
// flow; a size notice stops the game for good; End's dirt count equals the
// dirt pixels of a fresh drawing of the board, and the money follows from the
// dirt, the bonus and the cost; the total grows once per profitable job; and
// during play the patio and the stones on the screen equal a fresh board
// drawing pixel for pixel. Exact values that only the game's data give (the
// layout a clock picks, the units of a size, the bonus of an arrangement)
// are checked where the tests' golden cases know them.
//
// The choices come from an input source: a seeded generator (the unit test)
// or the bytes of a fuzzer's input (slabix_fuzz).
#pragma once

#include "game/SlabixView.h"
#include "platform/Sound.h"
#include "tests/TestSupport.h"

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

class CInputSource {
public:
    // An endless stream from a seeded generator.
    explicit CInputSource(std::uint64_t nSeed);
    // The given bytes, then zeros; AtEnd() tells when they are used up.
    CInputSource(const std::uint8_t* pData, std::size_t nSize);

    bool AtEnd() const { return m_pData != nullptr && m_nPos >= m_nSize; }
    std::uint8_t Byte();
    std::uint32_t Word();  // four bytes
    // A value in 0 .. n-1 (n >= 1), from as few bytes as n needs.
    std::uint32_t Below(std::uint32_t n);
    // A value in lo .. hi.
    int Range(int lo, int hi);

private:
    const std::uint8_t* m_pData = nullptr;
    std::size_t m_nSize = 0;
    std::size_t m_nPos = 0;
    std::uint64_t m_nState = 0;
};

// What a run covered, so a test can tell that the input reached the game.
struct FuzzCoverage {
    long nKeys = 0;
    long nPresses = 0;
    long nMoves = 0;
    long nSteps = 0;           // one-pixel steps taken by the stones
    long nBoundaryStops = 0;
    long nCollisionStops = 0;
    long nCharges = 0;         // 200-dollar fork-lift charges
    long nPaints = 0;
    long nResizes = 0;
    long nPrintsRefused = 0;
    long nPagesPrinted = 0;
    long nScorings = 0;        // End in play
    long nProfitable = 0;      // scorings that added to the total
    long nPerfect = 0;         // scorings with the bonus
    long nNewGames = 0;
    long nHalts = 0;
    long nPathWraps = 0;       // drags longer than the drag record
    long nBoardChecks = 0;     // comparisons with a fresh board drawing
    long nStageEvents[4] = {}; // events that began in each stage
};

class CFuzzDriver {
public:
    CFuzzDriver();
    ~CFuzzDriver();
    CFuzzDriver(const CFuzzDriver&) = delete;
    CFuzzDriver& operator=(const CFuzzDriver&) = delete;

    // Plays events until nMaxEvents have run or the source is used up. Starts
    // a game first if there is none.
    void Run(CInputSource& src, long nMaxEvents);
    // A new view, its first game set up at clock nClock, on a client of the
    // given size, painted once.
    void Start(int nWidth, int nHeight, std::int64_t nClock, bool bPaint = true);
    // One key-down message, checked like any other event.
    void SendKey(UINT nChar);

    long Events() const { return m_nEvents; }
    long Violations() const { return m_nViolations; }
    // The first violations, in words (at most a few dozen are kept).
    const std::vector<std::string>& Messages() const { return m_messages; }
    const FuzzCoverage& Coverage() const { return m_coverage; }
    std::string Summary() const;

    // The view under test, for tests of the driver itself.
    CSlabixView& View() { return *m_pView; }
    // Checks the view as it is now against the invariants and, where the
    // board is showing, against a fresh drawing of the whole board; returns
    // the number of violations found.
    long CheckNow();

private:
    struct Before;
    enum class EEvent;

    Before Snapshot() const;
    // Counts the event, names it for messages and clears what it records.
    void BeginEvent(const std::string& strWhat);
    void NewView(CInputSource& src);
    std::int64_t PickClock(CInputSource& src);
    bool ScreenIsClient() const;
    void Step(CInputSource& src);
    void PlayEvent(CInputSource& src, EEvent eEvent);
    void Violation(const std::string& strWhat);

    void CheckEvent(const Before& before, EEvent eEvent);
    void CheckPaint(const Before& before);
    void CheckNewGame();
    void CheckInvariants();
    void CheckBoard(bool bWhole, const std::vector<CRect>& regions);
    // A view of the live client size with the live stones drawn afresh, or
    // nullptr where none can be drawn.
    const CSlabixView* FreshBoard();
    int FreshDirt();

    void PrintRequest(CInputSource& src);
    void ArrangeSolution(CInputSource& src);

    CPoint PickPoint(CInputSource& src);
    CPoint PickPointNear(CInputSource& src, const CRect& rc);

    std::unique_ptr<CSlabixView> m_pView;
    std::unique_ptr<CSlabixView> m_pReference;  // draws the fresh board
    CRecordingSoundOutput m_sounds;
    CSoundOutput* m_pPreviousSound = nullptr;
    bool m_bHaveSounds = false;  // the sound resources are compiled in

    std::vector<CRect> m_updates;   // what the view reported drawing in this event
    long m_nEventsSinceWholeCheck = 0;
    bool m_bBoardShowing = false;   // board drawn fresh, no F1 page since
    bool m_bEndNext = false;        // the next event is End
    long m_nBurstLeft = 0;          // mouse moves still due in a long drag
    long m_nHaltedEvents = 0;       // events since the view halted
    CPoint m_ptPointer;             // where the pointer was last reported
    CPoint m_ptPress;               // where the drag in progress began
    CPoint m_ptDrag;                // the last point the drag was given
    int m_nCost = 0;                // what the moves of this game earned
    int m_nDirt = -1;               // dirt pixels End must count, -1: unknown
    std::map<std::int64_t, int> m_layoutAt;  // the layout each clock picked
    std::int64_t m_nClock = 0;

    long m_nEvents = 0;
    long m_nViolations = 0;
    std::vector<std::string> m_messages;
    FuzzCoverage m_coverage;
    std::string m_strEvent;         // the current event, for messages
};
