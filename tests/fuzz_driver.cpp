// Random input against the game view; see fuzz_driver.h.
#include "tests/fuzz_driver.h"

#include "platform/Runtime.h"

#include <QImage>
#include <QPainter>
#include <QPrinter>

#include <algorithm>
#include <climits>
#include <cstring>
#include <sstream>

namespace {

constexpr int kPay = 8000;
constexpr int kBonus = 2400;
constexpr COLORREF kWhite = 0x00FFFFFF;
constexpr int kMaxMessages = 40;
// A view that stays halted this many events gets a fresh game.
constexpr long kHaltedEventsBeforeNewView = 40;
// Every so often the whole board is compared, not only what an event touched.
constexpr long kEventsBetweenWholeChecks = 500;

bool IsEmpty(const CRect& rc) { return rc.right <= rc.left || rc.bottom <= rc.top; }

CRect Intersect(const CRect& a, const CRect& b)
{
    CRect rc(std::max(a.left, b.left), std::max(a.top, b.top), std::min(a.right, b.right),
             std::min(a.bottom, b.bottom));
    return IsEmpty(rc) ? CRect() : rc;
}

bool Overlap(const CRect& a, const CRect& b) { return !IsEmpty(Intersect(a, b)); }

CRect Shifted(const CRect& rc, long long dx, long long dy)
{
    return CRect(int(rc.left + dx), int(rc.top + dy), int(rc.right + dx), int(rc.bottom + dy));
}

CRect Union(const CRect& a, const CRect& b)
{
    return CRect(std::min(a.left, b.left), std::min(a.top, b.top), std::max(a.right, b.right),
                 std::max(a.bottom, b.bottom));
}

// A press hits a stone strictly inside its rectangle.
bool Hits(const CRect& rc, CPoint pt)
{
    return rc.left < pt.x && pt.x < rc.right && rc.top < pt.y && pt.y < rc.bottom;
}

// The first stone other than nStone that rc overlaps, or -1.
int OverlapsOther(const CRect& rc, int nStone, const CRect* rcStones)
{
    for (int j = 0; j < NUM_STONES; ++j)
        if (j != nStone && Overlap(rc, rcStones[j]))
            return j;
    return -1;
}

// Where a stone may lie: from one pixel inside the client area's left and top
// edges to its right edge, and down to the row two vertical units above its
// bottom.
CRect Boundary(const CRect& rcClient, int nUnitY)
{
    return CRect(rcClient.left + 1, rcClient.top + 1, rcClient.right, rcClient.bottom - 2 * nUnitY + 1);
}

// A stone at rc has left the boundary on the side it moved towards (dx, dy).
bool BeyondLeadingSide(const CRect& rc, long long dx, long long dy, const CRect& rcBound)
{
    return (dx > 0 && rc.right > rcBound.right) || (dx < 0 && rc.left < rcBound.left) ||
           (dy > 0 && rc.bottom > rcBound.bottom) || (dy < 0 && rc.top < rcBound.top);
}

int Sign(long long n) { return (n > 0) - (n < 0); }

std::string Str(const CRect& rc)
{
    std::ostringstream os;
    os << '(' << rc.left << ',' << rc.top << ',' << rc.right << ',' << rc.bottom << ')';
    return os.str();
}

std::string Str(CPoint pt)
{
    std::ostringstream os;
    os << '(' << pt.x << ',' << pt.y << ')';
    return os.str();
}

int Saturate(long long n) { return int(std::clamp<long long>(n, INT_MIN, INT_MAX)); }

// The layout a new game picks at this clock, where the golden cases know it.
int GoldenLayout(std::int64_t nClock)
{
    for (const FirstDraw& draw : kFirstDraws)
        if (std::uint32_t(nClock) == draw.nSeed)
            return draw.nValue % NUM_LAYOUTS;
    return -1;
}

const SizeCase* GoldenSize(int nWidth, int nHeight)
{
    for (const SizeCase& c : kScreenSizeCases)
        if (c.nWidth == nWidth && c.nHeight == nHeight)
            return &c;
    return nullptr;
}

bool IsGameKey(UINT nChar)
{
    return nChar == VK_SPACE || nChar == VK_F1 || nChar == VK_END || (nChar >= VK_LEFT && nChar <= VK_DOWN);
}

const char* KeyName(UINT nChar)
{
    switch (nChar) {
    case VK_SPACE: return "space";
    case VK_F1: return "F1";
    case VK_END: return "End";
    case VK_LEFT: return "Left";
    case VK_UP: return "Up";
    case VK_RIGHT: return "Right";
    case VK_DOWN: return "Down";
    default: return nullptr;
    }
}

struct Size {
    int w, h;
};
// Client sizes a new game gets: the accepted range and its edges, and a few
// short ones where the patio reaches into the prompt line or off the screen.
constexpr Size kViewSizes[] = {
    {1020, 700}, {1020, 740}, {1024, 768}, {1100, 800}, {1275, 960}, {1276, 960}, {1276, 961},
    {1280, 1000}, {1595, 961}, {1596, 960}, {1600, 1150}, {1020, 640}, {1300, 500}, {1020, 300},
};
// Sizes a resize picks besides the current one, accepted or not.
constexpr Size kResizeSizes[] = {
    {1020, 700}, {1024, 768}, {1596, 1150}, {1600, 1200}, {1019, 700}, {1601, 1150},
    {800, 600},  {0, 0},      {1, 1},       {1020, 0},    {2000, 1400},
};

}  // namespace

// Input source ------------------------------------------------------------------

CInputSource::CInputSource(std::uint64_t nSeed) : m_nState(nSeed) {}

CInputSource::CInputSource(const std::uint8_t* pData, std::size_t nSize)
    : m_pData(pData), m_nSize(nSize)
{
    static const std::uint8_t s_empty = 0;
    if (m_pData == nullptr)
        m_pData = &s_empty;  // no bytes at all: at the end from the start
}

std::uint8_t CInputSource::Byte()
{
    if (m_pData != nullptr)
        return m_nPos < m_nSize ? m_pData[m_nPos++] : 0;
    // splitmix64: the same stream on every machine and compiler.
    std::uint64_t z = (m_nState += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return std::uint8_t((z ^ (z >> 31)) >> 24);
}

std::uint32_t CInputSource::Word()
{
    std::uint32_t n = 0;
    for (int i = 0; i < 4; ++i)
        n = (n << 8) | Byte();
    return n;
}

std::uint32_t CInputSource::Below(std::uint32_t n)
{
    if (n <= 1)
        return 0;
    std::uint32_t nValue = Byte();
    if (n > 0x100)
        nValue = (nValue << 8) | Byte();
    if (n > 0x10000)
        nValue = (nValue << 16) | (std::uint32_t(Byte()) << 8) | Byte();
    return nValue % n;
}

int CInputSource::Range(int lo, int hi)
{
    if (hi <= lo)
        return lo;
    return lo + int(Below(std::uint32_t(std::int64_t(hi) - lo + 1)));
}

// The state before an event ----------------------------------------------------

struct CFuzzDriver::Before {
    int nStage = 0;
    int bHalted = 0;
    int bScreenReady = 0;
    CRect rcClient;
    CRect rcFirstClient;
    int nUnitX = 0;
    int nUnitY = 0;
    int nCost = 0;
    int nTotal = 0;
    int nPenalty = 0;
    int nBonus = 0;
    int nProfit = 0;
    int nLayout = 0;
    int nCurStone = 0;
    int bDragging = 0;
    CRect rcStone[NUM_STONES];
    QString strResults;
    int nPathLen = 0;  // of the current stone
    CPoint ptPress;    // the driver's record of the drag
    CPoint ptDrag;
    UINT nChar = 0;
    CPoint point;
    bool bPainted = false;  // the event ended in a paint
};

enum class CFuzzDriver::EEvent {
    GameKey,
    AnyKey,
    PressStone,
    PressAnywhere,
    MoveSmall,
    MoveMedium,
    MoveHuge,
    Release,
    Paint,
    Resize,
    Print,
    Arrange,
    NewView,
    LongDrag,
};

namespace {

struct Weight {
    int nWeight;
    int nEvent;  // CFuzzDriver::EEvent, as a number
};

}  // namespace

// Driver ----------------------------------------------------------------------

CFuzzDriver::CFuzzDriver()
{
    m_pPreviousSound = SetSoundOutput(&m_sounds);
    m_bHaveSounds = FindResource(IDR_THUMP, "sound") != nullptr && FindResource(IDR_BUZZ, "sound") != nullptr;
    crt::SetClock([this] { return m_nClock; });
}

CFuzzDriver::~CFuzzDriver()
{
    m_pView.reset();
    m_pReference.reset();
    crt::SetClock({});
    if (CSoundOutput* pCurrent = SetSoundOutput(m_pPreviousSound); pCurrent != &m_sounds)
        SetSoundOutput(pCurrent);  // another driver's, still in use
}

std::string CFuzzDriver::Summary() const
{
    const FuzzCoverage& c = m_coverage;
    std::ostringstream os;
    os << m_nEvents << " events, " << m_nViolations << " violations; " << c.nKeys << " keys, " << c.nPresses
       << " presses, " << c.nMoves << " moves, " << c.nSteps << " steps, " << c.nBoundaryStops
       << " boundary stops, " << c.nCollisionStops << " collision stops, " << c.nCharges << " fork-lift charges, "
       << c.nPaints << " paints, " << c.nResizes << " resizes, " << c.nPagesPrinted << " pages printed, "
       << c.nPrintsRefused << " prints refused, " << c.nScorings << " jobs scored (" << c.nProfitable
       << " with profit, " << c.nPerfect << " perfect), " << c.nNewGames << " new games, " << c.nHalts
       << " halts, " << c.nPathWraps << " drag records wrapped, " << c.nBoardChecks << " board comparisons; events by stage " << c.nStageEvents[0] << '/'
       << c.nStageEvents[1] << '/' << c.nStageEvents[2] << '/' << c.nStageEvents[3];
    if (!m_bHaveSounds)
        os << "; no sound resources, cues not checked";
    return os.str();
}

void CFuzzDriver::Violation(const std::string& strWhat)
{
    ++m_nViolations;
    if (int(m_messages.size()) < kMaxMessages)
        m_messages.push_back(m_strEvent + ": " + strWhat);
}

void CFuzzDriver::Start(int nWidth, int nHeight, std::int64_t nClock, bool bPaint)
{
    m_nClock = nClock;
    crt::SetClock([this] { return m_nClock; });
    // A new view, as the program makes one: its construction sets up the
    // first game at the clock's second.
    m_pView.reset();
    m_pReference.reset();
    m_pView = std::make_unique<CSlabixView>();
    m_pView->SetUpdateSink([this](const CRect& rc) { m_updates.push_back(rc); });
    m_pView->SetClientSize(nWidth, nHeight);
    m_bBoardShowing = false;
    m_bEndNext = false;
    m_nBurstLeft = 0;
    m_nHaltedEvents = 0;
    m_ptPointer = CPoint(nWidth / 2, nHeight / 2);
    m_nCost = 0;
    CheckNewGame();
    if (bPaint) {
        const Before before = Snapshot();
        m_updates.clear();
        m_pView->Paint();
        CheckPaint(before);
    }
    m_updates.clear();
    m_sounds.m_played.clear();
    CheckInvariants();
}

// A clock second for a new game: as the bytes give it, or (for even values)
// one whose layout the golden cases know.
std::int64_t CFuzzDriver::PickClock(CInputSource& src)
{
    const std::uint32_t n = src.Word();
    return (n & 1) ? std::int64_t(n) : std::int64_t(kFirstDraws[(n >> 1) % std::size(kFirstDraws)].nSeed);
}

void CFuzzDriver::NewView(CInputSource& src)
{
    const Size& size = kViewSizes[src.Below(std::size(kViewSizes))];
    const std::int64_t nClock = PickClock(src);
    Start(size.w, size.h, nClock, src.Below(8) != 0);
}

void CFuzzDriver::Run(CInputSource& src, long nMaxEvents)
{
    if (!m_pView) {
        m_strEvent = "start";
        NewView(src);
    }
    for (long n = 0; n < nMaxEvents && !src.AtEnd(); ++n)
        Step(src);
}

CFuzzDriver::Before CFuzzDriver::Snapshot() const
{
    const CSlabixView& v = *m_pView;
    Before before;
    before.nStage = v.m_nStage;
    before.bHalted = v.m_bHalted;
    before.bScreenReady = v.m_bScreenReady;
    before.rcClient = v.m_rcClient;
    before.rcFirstClient = v.m_rcFirstClient;
    before.nUnitX = v.m_nUnitX;
    before.nUnitY = v.m_nUnitY;
    before.nCost = v.m_nCost;
    before.nTotal = v.m_nTotalProfit;
    before.nPenalty = v.m_nPenalty;
    before.nBonus = v.m_nBonus;
    before.nProfit = v.m_nProfit;
    before.nLayout = v.m_nLayout;
    before.nCurStone = v.m_nCurStone;
    before.bDragging = v.m_bDragging;
    std::copy(std::begin(v.m_rcStone), std::end(v.m_rcStone), before.rcStone);
    before.strResults = v.m_strResults;
    if (v.m_nCurStone >= 0 && v.m_nCurStone < NUM_STONES)
        before.nPathLen = v.m_nPathLen[v.m_nCurStone];
    before.ptPress = m_ptPress;
    before.ptDrag = m_ptDrag;
    return before;
}

void CFuzzDriver::BeginEvent(const std::string& strWhat)
{
    // Another driver may have put in its own clock and sound output.
    crt::SetClock([this] { return m_nClock; });
    SetSoundOutput(&m_sounds);
    ++m_nEvents;
    const CSlabixView& v = *m_pView;
    ++m_coverage.nStageEvents[std::clamp(v.m_nStage, 0, 3)];
    m_strEvent = "event " + std::to_string(m_nEvents) + " (stage " + std::to_string(v.m_nStage) +
                 (v.m_bHalted ? ", halted) " : ") ") + strWhat;
    m_updates.clear();
    m_sounds.m_played.clear();
}

void CFuzzDriver::SendKey(UINT nChar)
{
    Before before = Snapshot();
    before.nChar = nChar;
    const char* pszName = KeyName(nChar);
    BeginEvent(std::string("key ") + (pszName ? pszName : std::to_string(nChar)));
    ++m_coverage.nKeys;

    const CSlabixView& v = *m_pView;
    const bool bLive = !before.bHalted;
    m_nDirt = -1;
    if (bLive && nChar == VK_END && before.nStage == 1 && ScreenIsClient())
        m_nDirt = FreshDirt();  // End draws the board afresh and counts its dirt
    m_pView->OnKeyDown(nChar, 1, 0);

    if (bLive && nChar == VK_SPACE && (before.nStage == 2 || before.nStage == 3)) {
        ++m_coverage.nNewGames;
        m_nCost = 0;
        CheckNewGame();
    }
    if (!v.m_bHalted && v.m_nStage == 1) {
        if (nChar == VK_SPACE)
            m_bBoardShowing = ScreenIsClient();
        else if (nChar == VK_F1)
            m_bBoardShowing = false;
    }
    if (before.nStage == 1 && v.m_nStage >= 2) {
        ++m_coverage.nScorings;
        m_coverage.nProfitable += v.m_nStage == 3;
        m_coverage.nPerfect += v.m_nBonus > 0;
    }
    if (v.m_nStage != 1)
        m_bBoardShowing = false;
    CheckEvent(before, IsGameKey(nChar) ? EEvent::GameKey : EEvent::AnyKey);
}

void CFuzzDriver::Step(CInputSource& src)
{
    static const Weight kWeights[] = {
        {46, int(EEvent::GameKey)},   {8, int(EEvent::AnyKey)},    {26, int(EEvent::PressStone)},
        {6, int(EEvent::PressAnywhere)}, {52, int(EEvent::MoveSmall)}, {34, int(EEvent::MoveMedium)},
        {10, int(EEvent::MoveHuge)},  {28, int(EEvent::Release)},  {8, int(EEvent::Paint)},
        {2, int(EEvent::Resize)},     {5, int(EEvent::Print)},     {2, int(EEvent::Arrange)},
        {1, int(EEvent::NewView)},    {1, int(EEvent::LongDrag)},
    };
    static const int s_nTotal = [] {
        int n = 0;
        for (const Weight& w : kWeights)
            n += w.nWeight;
        return n;
    }();

    if (m_pView->m_bHalted == 1 && ++m_nHaltedEvents > kHaltedEventsBeforeNewView) {
        m_strEvent = "event " + std::to_string(m_nEvents + 1) + " new game after a halt";
        ++m_nEvents;
        NewView(src);
        return;
    }

    if (m_nBurstLeft > 0) {  // a long drag: more moves than the drag record holds
        --m_nBurstLeft;
        PlayEvent(src, EEvent::MoveSmall);
        if (!m_pView->m_bDragging)
            m_nBurstLeft = 0;  // the drag stopped
        return;
    }

    if (m_bEndNext) {  // a laid patio is scored before anything moves it
        m_bEndNext = false;
        SendKey(VK_END);
        return;
    }

    int nPick = int(src.Below(std::uint32_t(s_nTotal)));
    EEvent eEvent = EEvent::GameKey;
    for (const Weight& w : kWeights) {
        if (nPick < w.nWeight) {
            eEvent = EEvent(w.nEvent);
            break;
        }
        nPick -= w.nWeight;
    }
    PlayEvent(src, eEvent);
}

CPoint CFuzzDriver::PickPoint(CInputSource& src)
{
    static const int kExtremes[] = {INT_MIN, INT_MIN + 1, -100000, -1, 0, 1, 449, 450, 1003, 1004,
                                    1019, 1020, 1599, 1600, 100000, INT_MAX - 1, INT_MAX};
    switch (src.Below(8)) {
    case 0:
        return CPoint(kExtremes[src.Below(std::size(kExtremes))], kExtremes[src.Below(std::size(kExtremes))]);
    case 1:
        return CPoint(int(src.Word()), int(src.Word()));
    default:
        return CPoint(src.Range(-40, 1700), src.Range(-40, 1300));
    }
}

CPoint CFuzzDriver::PickPointNear(CInputSource& src, const CRect& rc)
{
    switch (src.Below(10)) {
    case 0: return CPoint(rc.left, rc.top);            // the corner: a miss
    case 1: return CPoint(rc.left + 1, rc.top + 1);    // the first point that hits
    case 2: return CPoint(rc.right - 1, rc.bottom - 1);
    case 3: return CPoint(rc.right, rc.bottom);        // just outside
    case 4: return CPoint(rc.left, src.Range(rc.top, rc.bottom));
    case 5: return CPoint(src.Range(rc.left, rc.right), rc.top);
    default: return CPoint(src.Range(rc.left + 1, rc.right - 1), src.Range(rc.top + 1, rc.bottom - 1));
    }
}

void CFuzzDriver::PlayEvent(CInputSource& src, EEvent eEvent)
{
    CSlabixView& v = *m_pView;

    if (eEvent == EEvent::GameKey || eEvent == EEvent::AnyKey) {
        UINT nChar = 0;
        if (eEvent == EEvent::GameKey) {
            // Arrows mostly; space and End rarely enough that games last.
            static const UINT kKeys[] = {VK_LEFT, VK_UP, VK_RIGHT, VK_DOWN, VK_LEFT, VK_UP, VK_RIGHT, VK_DOWN,
                                         VK_LEFT, VK_UP, VK_RIGHT, VK_DOWN, VK_SPACE, VK_SPACE, VK_F1, VK_END};
            nChar = kKeys[src.Below(std::size(kKeys))];
            if (nChar == VK_END && src.Below(3) != 0)
                nChar = VK_RIGHT;
        } else {
            nChar = src.Below(4) == 0 ? src.Word() : src.Below(256);
        }
        if (nChar == VK_SPACE && (v.m_nStage == 2 || v.m_nStage == 3))
            m_nClock = PickClock(src);  // picks the next game's layout
        SendKey(nChar);
        return;
    }

    Before before = Snapshot();
    BeginEvent("");
    std::ostringstream osEvent;
    osEvent << m_strEvent;
    const bool bDragging = v.m_bDragging != 0;

    bool bWholeCheck = false;
    switch (eEvent) {
    case EEvent::PressStone:
    case EEvent::PressAnywhere: {
        CPoint pt;
        if (eEvent == EEvent::PressStone) {
            const int i = src.Below(3) == 0 ? v.m_nCurStone : int(src.Below(NUM_STONES));
            pt = PickPointNear(src, v.m_rcStone[std::clamp(i, 0, NUM_STONES - 1)]);
        } else {
            pt = PickPoint(src);
        }
        osEvent << "button down at " << Str(pt);
        m_strEvent = osEvent.str();
        before.point = pt;
        m_ptPointer = pt;
        ++m_coverage.nPresses;
        v.OnLButtonDown(0, pt);
        break;
    }
    case EEvent::MoveSmall:
    case EEvent::MoveMedium:
    case EEvent::MoveHuge: {
        CPoint pt;
        if (eEvent == EEvent::MoveSmall && m_nBurstLeft > 0) {
            // To and fro by one pixel, so the drag rarely stops.
            pt = CPoint(m_ptPointer.x + (m_nBurstLeft % 2 ? 1 : -1), m_ptPointer.y);
        } else if (eEvent == EEvent::MoveSmall) {
            pt = CPoint(Saturate((long long)m_ptPointer.x + src.Range(-8, 8)),
                        Saturate((long long)m_ptPointer.y + src.Range(-8, 8)));
        } else if (eEvent == EEvent::MoveMedium) {
            pt = CPoint(Saturate((long long)m_ptPointer.x + src.Range(-300, 300)),
                        Saturate((long long)m_ptPointer.y + src.Range(-300, 300)));
        } else if (src.Below(2) == 0) {
            pt = PickPoint(src);
        } else {
            pt = CPoint(Saturate((long long)m_ptPointer.x + src.Range(-5000, 5000)),
                        Saturate((long long)m_ptPointer.y + src.Range(-5000, 5000)));
        }
        osEvent << "mouse move to " << Str(pt) << " from " << Str(m_ptPointer);
        m_strEvent = osEvent.str();
        before.point = pt;
        m_ptPointer = pt;
        ++m_coverage.nMoves;
        v.OnMouseMove(0, pt);
        break;
    }
    case EEvent::Release: {
        CPoint pt;
        switch (src.Below(3)) {
        case 0: pt = m_ptPress; break;
        case 1: pt = m_ptPointer; break;
        default: pt = PickPoint(src); break;
        }
        osEvent << "button up at " << Str(pt);
        m_strEvent = osEvent.str();
        before.point = pt;
        m_ptPointer = pt;
        v.OnLButtonUp(0, pt);
        break;
    }
    case EEvent::Paint:
        osEvent << "paint";
        m_strEvent = osEvent.str();
        ++m_coverage.nPaints;
        before.bPainted = true;
        v.Paint();
        if (!v.m_bHalted && v.m_nStage == 1 && ScreenIsClient()) {
            m_bBoardShowing = true;
            bWholeCheck = true;
        }
        break;
    case EEvent::Resize: {
        const QSize old = v.FrameBuffer().size();
        Size size{old.width(), old.height()};
        const std::uint32_t nHow = src.Below(4);
        if (nHow == 1)
            size = kResizeSizes[src.Below(std::size(kResizeSizes))];
        else if (nHow == 2)
            size = Size{src.Range(0, 2000), src.Range(0, 1400)};
        osEvent << "client size " << size.w << 'x' << size.h;
        m_strEvent = osEvent.str();
        ++m_coverage.nResizes;
        v.SetClientSize(size.w, size.h);
        m_bBoardShowing = false;
        if (src.Below(4) != 0) {  // the window system's paint follows
            before.bPainted = true;
            v.Paint();
            if (!v.m_bHalted && v.m_nStage == 1 && ScreenIsClient()) {
                m_bBoardShowing = true;
                bWholeCheck = true;
            }
        }
        break;
    }
    case EEvent::Print:
        osEvent << "print";
        m_strEvent = osEvent.str();
        PrintRequest(src);
        break;
    case EEvent::Arrange:
        osEvent << "stones laid on the patio";
        m_strEvent = osEvent.str();
        ArrangeSolution(src);
        bWholeCheck = m_bBoardShowing;
        break;
    case EEvent::NewView:
        osEvent << "new game";
        m_strEvent = osEvent.str();
        NewView(src);
        return;
    case EEvent::LongDrag: {
        // A press in the middle of the current stone; now and then the next
        // 1,050 events are mouse moves of the drag it starts, past the 1,000
        // points of the drag record.
        const CRect& rc = v.m_rcStone[std::clamp(v.m_nCurStone, 0, NUM_STONES - 1)];
        const CPoint pt(rc.left + rc.Width() / 2, rc.top + rc.Height() / 2);
        osEvent << "button down at " << Str(pt) << " for a long drag";
        m_strEvent = osEvent.str();
        before.point = pt;
        m_ptPointer = pt;
        ++m_coverage.nPresses;
        v.OnLButtonDown(0, pt);
        if (src.Below(4) == 0 && v.m_bDragging)
            m_nBurstLeft = 1050;
        break;
    }
    case EEvent::GameKey:
    case EEvent::AnyKey:
        break;
    }

    // The driver's record of the drag, kept from the messages it sent.
    const bool bPress = eEvent == EEvent::PressStone || eEvent == EEvent::PressAnywhere || eEvent == EEvent::LongDrag;
    const bool bMove = eEvent == EEvent::MoveSmall || eEvent == EEvent::MoveMedium || eEvent == EEvent::MoveHuge;
    const bool bPlay = !before.bHalted && before.nStage == 1;
    if (bPlay && bPress && v.m_bDragging)
        m_ptPress = m_ptDrag = before.point;
    else if (bPlay && bMove && bDragging)
        m_ptDrag = before.point;

    if (before.bHalted == 0 && v.m_bHalted == 1)
        ++m_coverage.nHalts;
    if (bMove && v.m_bDragging && v.m_nCurStone == before.nCurStone && v.m_nCurStone >= 0 &&
        v.m_nCurStone < NUM_STONES && v.m_nPathLen[v.m_nCurStone] < before.nPathLen)
        ++m_coverage.nPathWraps;
    CheckEvent(before, eEvent);
    if (bWholeCheck)
        CheckBoard(true, {});
}

// Printing --------------------------------------------------------------------

void CFuzzDriver::PrintRequest(CInputSource& src)
{
    CSlabixView& v = *m_pView;
    const bool bAllowed = !(v.m_nStage == 1 || v.m_bHalted == 1);

    // A preview never shows the print dialog, so asking is safe even when the
    // view would wrongly go on.
    if (!bAllowed || src.Below(16) == 0) {
        CPrintInfo info;
        info.m_bPreview = TRUE;
        const BOOL bGoOn = v.OnPreparePrinting(&info);
        std::unique_ptr<QPrinter> pPrinter(info.m_pPrinter);  // the caller owns it
        if (bAllowed && !bGoOn)
            Violation("printing refused on the title or results screen");
        if (!bAllowed && bGoOn)
            Violation("printing allowed during play or on a stopped game");
    }

    // Mostly a page at 100 dots per inch; now and then a letter page at 300.
    const bool bLarge = src.Below(32) == 0;
    QImage page = bLarge ? QImage(2550, 3300, QImage::Format_RGB32) : QImage(850, 1100, QImage::Format_RGB32);
    const QSize pageSize = page.size();
    page.fill(Qt::white);

    CPrintInfo info;
    info.m_rectDraw = CRect(0, 0, pageSize.width(), pageSize.height());
    {
        QPainter painter(&page);
        CPainterDC dc(painter);
        v.OnBeginPrinting(&dc, &info);
        v.OnPrint(&dc, &info);
        v.OnEndPrinting(&dc, &info);
    }

    // Ink on the page: rows of the header line, and anywhere (small pages).
    const std::vector<QRgb> white(std::size_t(page.width()), qRgb(255, 255, 255));
    auto inkInRows = [&page, &white](int nTop, int nBottom) {
        long n = 0;
        for (int y = std::max(0, nTop); y < std::min(nBottom, page.height()); ++y)
            n += std::memcmp(page.constScanLine(y), white.data(), white.size() * sizeof(QRgb)) != 0;
        return n;
    };
    if (bAllowed) {
        ++m_coverage.nPagesPrinted;
        if (info.m_bContinuePrinting)
            Violation("the page asks for a second page");
        if (inkInRows(100, 200) == 0)
            Violation("the printed page has no header line");
        const int nLeft = (pageSize.width() - 554) / 2;
        // The middle of the patio picture: dirt, or a stone lying there.
        const COLORREF cr = FromQRgb(page.pixel(nLeft + 277, 395));
        if (cr == kWhite)
            Violation("the printed page has no patio picture");
    } else {
        ++m_coverage.nPrintsRefused;
        if (!bLarge && inkInRows(0, pageSize.height()) != 0)
            Violation("a refused print drew on the page");
    }
}

// The perfect arrangement of layout 2, laid straight into the view's fields
// (the stones whose place is free), then the board redrawn with space.
void CFuzzDriver::ArrangeSolution(CInputSource& src)
{
    CSlabixView& v = *m_pView;
    if (v.m_bHalted || v.m_nStage != 1 || v.m_nLayout != 2)
        return;
    const bool bAll = src.Below(2) == 0;
    for (int i = 0; i < NUM_STONES; ++i) {
        if (!bAll && src.Below(2) == 0)
            continue;
        if (OverlapsOther(kLayout2Perfect[i], i, v.m_rcStone) < 0)
            v.m_rcStone[i] = kLayout2Perfect[i];
    }
    // Drags in progress stay as they were; the board comes back with space.
    m_updates.clear();
    v.OnKeyDown(VK_SPACE, 1, 0);
    m_bBoardShowing = ScreenIsClient();
    m_bEndNext = src.Below(2) == 0;
}

// The framebuffer is the client area the view measured at its last paint, so
// what it draws is what the player sees.
bool CFuzzDriver::ScreenIsClient() const
{
    const QImage& fb = m_pView->FrameBuffer();
    return !fb.isNull() && CRect(0, 0, fb.width(), fb.height()) == m_pView->m_rcClient;
}

// Checks ------------------------------------------------------------------------

// A paint: the client area is the framebuffer; a client area outside the
// accepted widths, or one that differs from the first after the layout, stops
// the game for good; otherwise the layout is made once and kept.
void CFuzzDriver::CheckPaint(const Before& b)
{
    const CSlabixView& v = *m_pView;
    const QImage& fb = v.FrameBuffer();
    auto expect = [this](const char* pszField, long long nView, long long nWant) {
        if (nView != nWant)
            Violation(std::string(pszField) + " is " + std::to_string(nView) + ", expected " + std::to_string(nWant));
    };
    if (fb.isNull()) {  // no client area: the window system does not paint
        expect("halted", v.m_bHalted, b.bHalted);
        expect("screen ready", v.m_bScreenReady, b.bScreenReady);
        return;
    }
    const CRect rcClient(0, 0, fb.width(), fb.height());
    if (v.m_rcClient != rcClient)
        Violation("client rectangle " + Str(v.m_rcClient) + " after a paint of " + Str(rcClient));
    const bool bChanged = b.bScreenReady && rcClient != b.rcFirstClient;
    const bool bOutside = rcClient.right < 1020 || rcClient.right > 1600;
    expect("halted", v.m_bHalted, b.bHalted || bChanged || bOutside);
    if (bChanged || bOutside) {
        expect("screen ready", v.m_bScreenReady, b.bScreenReady);
        return;
    }
    expect("screen ready", v.m_bScreenReady, 1);
    const CRect rcFirst = b.bScreenReady ? b.rcFirstClient : rcClient;
    if (v.m_rcFirstClient != rcFirst)
        Violation("first client rectangle " + Str(v.m_rcFirstClient) + ", expected " + Str(rcFirst));
    if (b.bScreenReady) {
        expect("unit x", v.m_nUnitX, b.nUnitX);
        expect("unit y", v.m_nUnitY, b.nUnitY);
    } else if (const SizeCase* pCase = GoldenSize(rcClient.right, rcClient.bottom)) {
        expect("unit x", v.m_nUnitX, pCase->nUnitX);
        expect("unit y", v.m_nUnitY, pCase->nUnitY);
    }
}

// A new game: stage 0 or 1, nothing spent or scored, the stones at their
// layout's start places, the layout the clock picks.
void CFuzzDriver::CheckNewGame()
{
    const CSlabixView& v = *m_pView;
    if (v.m_nCost != 0 || v.m_nPenalty != 0 || v.m_nBonus != 0 || v.m_bScreenReady != 0 || v.m_bDragging != 0 ||
        v.m_nCurStone != 0)
        Violation("a new game starts with cost " + std::to_string(v.m_nCost) + ", penalty " +
                  std::to_string(v.m_nPenalty) + ", bonus " + std::to_string(v.m_nBonus) + ", screen ready " +
                  std::to_string(v.m_bScreenReady) + ", dragging " + std::to_string(v.m_bDragging) +
                  ", stone " + std::to_string(v.m_nCurStone));
    if (v.m_nLayout < 0 || v.m_nLayout >= NUM_LAYOUTS)
        return;  // an invariant says so
    for (int i = 0; i < NUM_STONES; ++i)
        if (v.m_rcStone[i] != g_rcLayouts[v.m_nLayout][i])
            Violation("new game: stone " + std::to_string(i) + " not at its start place");
    const int nGolden = GoldenLayout(m_nClock);
    if (nGolden >= 0 && v.m_nLayout != nGolden)
        Violation("layout " + std::to_string(v.m_nLayout) + " at clock " + std::to_string(m_nClock) + ", expected " +
                  std::to_string(nGolden));
    const auto [it, bNew] = m_layoutAt.emplace(m_nClock, v.m_nLayout);
    if (!bNew && it->second != v.m_nLayout)
        Violation("layout " + std::to_string(v.m_nLayout) + " at clock " + std::to_string(m_nClock) +
                  ", which picked " + std::to_string(it->second) + " before");
    if (m_layoutAt.size() > 4096)
        m_layoutAt.clear();
}

void CFuzzDriver::CheckInvariants()
{
    const CSlabixView& v = *m_pView;
    if (v.m_nStage < 0 || v.m_nStage > 3)
        Violation("stage " + std::to_string(v.m_nStage) + " out of range");
    if (v.m_nCurStone < 0 || v.m_nCurStone >= NUM_STONES)
        Violation("current stone " + std::to_string(v.m_nCurStone) + " out of range");
    if (v.m_nLayout < 0 || v.m_nLayout >= NUM_LAYOUTS) {
        Violation("layout " + std::to_string(v.m_nLayout) + " out of range");
        return;
    }
    if (v.m_bDragging != 0 && v.m_bDragging != 1)
        Violation("dragging flag " + std::to_string(v.m_bDragging));
    if (v.m_bHalted != 0 && v.m_bHalted != 1)
        Violation("halted flag " + std::to_string(v.m_bHalted));
    for (int i = 0; i < NUM_STONES; ++i) {
        const CRect& rc = v.m_rcStone[i];
        const CRect& rcStart = g_rcLayouts[v.m_nLayout][i];
        if (rc.Width() != rcStart.Width() || rc.Height() != rcStart.Height())
            Violation("stone " + std::to_string(i) + " is " + std::to_string(rc.Width()) + "x" +
                      std::to_string(rc.Height()) + ", its layout makes it " + std::to_string(rcStart.Width()) +
                      "x" + std::to_string(rcStart.Height()));
        for (int j = i + 1; j < NUM_STONES; ++j)
            if (Overlap(rc, v.m_rcStone[j]))
                Violation("stones " + std::to_string(i) + " " + Str(rc) + " and " + std::to_string(j) + " " +
                          Str(v.m_rcStone[j]) + " overlap");
        if (v.m_nPathLen[i] < 0 || v.m_nPathLen[i] >= PATH_POINTS)
            Violation("drag record of stone " + std::to_string(i) + " at index " + std::to_string(v.m_nPathLen[i]));
    }
    if (v.m_nCost < 0 || v.m_nCost % 2 != 0)
        Violation("cost " + std::to_string(v.m_nCost));
    if (v.m_nTotalProfit < 0)
        Violation("total profit " + std::to_string(v.m_nTotalProfit));
    if (v.m_nPenalty < 0 || v.m_nPenalty % 4 != 0 || v.m_nPenalty > 4 * 553 * 289)
        Violation("penalty " + std::to_string(v.m_nPenalty));
    if (v.m_nBonus != 0 && (v.m_nBonus != kBonus || v.m_nPenalty != 0))
        Violation("bonus " + std::to_string(v.m_nBonus) + " with penalty " + std::to_string(v.m_nPenalty));
}

long CFuzzDriver::CheckNow()
{
    const long nBefore = m_nViolations;
    m_strEvent = "check after event " + std::to_string(m_nEvents);
    CheckInvariants();
    CheckBoard(true, {});
    return m_nViolations - nBefore;
}

void CFuzzDriver::CheckEvent(const Before& b, EEvent eEvent)
{
    const CSlabixView& v = *m_pView;
    CheckInvariants();

    const bool bKey = eEvent == EEvent::GameKey || eEvent == EEvent::AnyKey;
    const UINT nChar = b.nChar;
    const bool bLive = !b.bHalted;
    const bool bPlay = bLive && b.nStage == 1;
    const bool bNewGame = bKey && bLive && nChar == VK_SPACE && (b.nStage == 2 || b.nStage == 3);
    const bool bScored = bKey && bLive && nChar == VK_END && b.nStage == 1;
    const bool bArrow = bKey && nChar >= VK_LEFT && nChar <= VK_DOWN;
    const bool bMove = eEvent == EEvent::MoveSmall || eEvent == EEvent::MoveMedium || eEvent == EEvent::MoveHuge;
    const bool bPress = eEvent == EEvent::PressStone || eEvent == EEvent::PressAnywhere || eEvent == EEvent::LongDrag;
    const bool bRelease = eEvent == EEvent::Release;
    const int i = b.nCurStone;
    const bool bStoneOk = i >= 0 && i < NUM_STONES;

    // Stage flow: 0 -> 1 by space, 1 -> 2 or 3 by End, 2 or 3 -> 1 by space.
    int nStage = b.nStage;
    if (bKey && bLive && nChar == VK_SPACE && b.nStage >= 0 && b.nStage <= 3)
        nStage = 1;
    else if (bScored)
        nStage = v.m_nProfit > 0 ? 3 : 2;
    if (v.m_nStage != nStage)
        Violation("stage went from " + std::to_string(b.nStage) + " to " + std::to_string(v.m_nStage));

    // Only a paint stops the game, and nothing starts it again.
    if (b.bPainted)
        CheckPaint(b);
    else if (v.m_bHalted != b.bHalted)
        Violation(b.bHalted ? "a halted game started again" : "halted without a paint");
    else if (!bNewGame && v.m_bScreenReady != b.bScreenReady)
        Violation("screen ready went from " + std::to_string(b.bScreenReady) + " without a paint");

    // What the rules make of the stones, the drag and the cost. Unless an
    // event below says otherwise, nothing changes.
    CRect rcWant[NUM_STONES];
    std::copy(std::begin(b.rcStone), std::end(b.rcStone), rcWant);
    int nCurWant = b.nCurStone, nDragWant = b.bDragging, nCharge = 0, nCueWant = 0;
    const CRect rcBound = Boundary(b.rcClient, b.nUnitY);
    if (bNewGame || eEvent == EEvent::Arrange) {
        std::copy(std::begin(v.m_rcStone), std::end(v.m_rcStone), rcWant);  // checked apart
        nCurWant = v.m_nCurStone;
        nDragWant = v.m_bDragging;
    } else if (bArrow && bPlay && bStoneOk) {
        // A hand step: one pixel, $2, unless it would leave the boundary
        // (free) or run into a stone (charged, no move).
        const long long dx = nChar == VK_RIGHT ? 1 : nChar == VK_LEFT ? -1 : 0;
        const long long dy = nChar == VK_DOWN ? 1 : nChar == VK_UP ? -1 : 0;
        const CRect rcNext = Shifted(b.rcStone[i], dx, dy);
        nCharge = 2;
        if (BeyondLeadingSide(rcNext, dx, dy, rcBound)) {
            nCharge = 0;
            nCueWant = IDR_BUZZ;
            ++m_coverage.nBoundaryStops;
        } else if (OverlapsOther(rcNext, i, b.rcStone) >= 0) {
            nCueWant = IDR_THUMP;
            ++m_coverage.nCollisionStops;
        } else {
            rcWant[i] = rcNext;
            ++m_coverage.nSteps;
        }
        if (nCueWant != 0)
            nDragWant = 0;
    } else if (bMove && bPlay && b.bDragging && bStoneOk) {
        // A drag: the pointer's displacement, the horizontal leg first, each
        // leg clear of the other stones; a stop ends it exactly where one
        // more step would leave the boundary (free) or run into a stone
        // ($200).
        const long long dx = (long long)b.point.x - b.ptDrag.x, dy = (long long)b.point.y - b.ptDrag.y;
        const CRect& r0 = b.rcStone[i];
        const CRect& r1 = v.m_rcStone[i];
        const long long ax = (long long)r1.left - r0.left, ay = (long long)r1.top - r0.top;
        const bool bStopX = std::llabs(ax) < std::llabs(dx);
        const bool bOk = Sign(ax) * Sign(dx) >= 0 && std::llabs(ax) <= std::llabs(dx) &&
                         (bStopX ? ay == 0 : Sign(ay) * Sign(dy) >= 0 && std::llabs(ay) <= std::llabs(dy));
        const CRect rcCorner = Shifted(r0, ax, 0);
        if (!bOk) {
            Violation("a drag of " + std::to_string(dx) + "," + std::to_string(dy) + " took stone " +
                      std::to_string(i) + " from " + Str(r0) + " to " + Str(r1));
        } else {
            rcWant[i] = r1;
            m_coverage.nSteps += long(std::llabs(ax) + std::llabs(ay));
            const CRect legs[2][2] = {{r0, rcCorner}, {rcCorner, r1}};
            for (const auto& leg : legs) {
                if (leg[0] == leg[1])
                    continue;
                const int j = OverlapsOther(Union(leg[0], leg[1]), i, b.rcStone);
                if (j >= 0)
                    Violation("stone " + std::to_string(i) + " went through stone " + std::to_string(j) + " from " +
                              Str(leg[0]) + " to " + Str(leg[1]));
                const long long lx = (long long)leg[1].left - leg[0].left, ly = (long long)leg[1].top - leg[0].top;
                if (BeyondLeadingSide(leg[1], lx, ly, rcBound))
                    Violation("stone " + std::to_string(i) + " left the boundary " + Str(rcBound) + " at " +
                              Str(leg[1]));
            }
            if (bStopX || std::llabs(ay) < std::llabs(dy)) {
                const int sx = bStopX ? Sign(dx) : 0, sy = bStopX ? 0 : Sign(dy);
                const CRect rcNext = Shifted(r1, sx, sy);
                nDragWant = 0;
                if (BeyondLeadingSide(rcNext, sx, sy, rcBound)) {
                    nCueWant = IDR_BUZZ;
                    ++m_coverage.nBoundaryStops;
                } else if (OverlapsOther(rcNext, i, b.rcStone) >= 0) {
                    nCueWant = IDR_THUMP;
                    nCharge = 200;
                    ++m_coverage.nCollisionStops;
                    ++m_coverage.nCharges;
                } else {
                    Violation("stone " + std::to_string(i) + " stopped at " + Str(r1) + " with room for another step");
                }
            }
        }
    } else if (bPress && bPlay) {
        // A press on a stone (strictly inside) makes it the current stone and
        // starts a drag; a press elsewhere selects stone 0 and drags nothing.
        int nHit = -1;
        for (int j = 0; j < NUM_STONES && nHit < 0; ++j)
            if (Hits(b.rcStone[j], b.point))
                nHit = j;
        nCurWant = std::max(nHit, 0);
        nDragWant = nHit >= 0;
    } else if (bRelease && bPlay) {
        // A release ends the drag, charged when the stone was carried.
        nDragWant = 0;
        if (b.bDragging && b.point != b.ptPress) {
            nCharge = 200;
            ++m_coverage.nCharges;
        }
    }
    for (int j = 0; j < NUM_STONES; ++j)
        if (v.m_rcStone[j] != rcWant[j])
            Violation("stone " + std::to_string(j) + " moved from " + Str(b.rcStone[j]) + " to " +
                      Str(v.m_rcStone[j]) + ", expected " + Str(rcWant[j]));
    if (v.m_nCurStone != nCurWant)
        Violation("current stone " + std::to_string(v.m_nCurStone) + ", expected " + std::to_string(nCurWant));
    if (v.m_bDragging != nDragWant)
        Violation("dragging " + std::to_string(v.m_bDragging) + ", expected " + std::to_string(nDragWant));
    if (bPlay && v.m_bDragging && bStoneOk && v.m_nCurStone == i) {
        if (v.m_ptPath[i][0] != m_ptPress)
            Violation("press point " + Str(v.m_ptPath[i][0]) + ", expected " + Str(m_ptPress));
        const int n = v.m_nPathLen[i];
        if (n >= 0 && n < PATH_POINTS && v.m_ptPath[i][n] != m_ptDrag)
            Violation("newest drag point " + Str(v.m_ptPath[i][n]) + ", expected " + Str(m_ptDrag));
    }

    // Cost: 2 for a hand step, 200 for a fork-lift charge, only in play, and
    // in all what the moves of the game earned.
    const long long nDelta = (long long)v.m_nCost - b.nCost;
    if (!bNewGame && nDelta != 0) {
        const bool bOk = bPlay && v.m_nStage == 1 &&
                         ((bArrow && nDelta == 2) || ((bMove || bRelease) && nDelta == 200));
        if (!bOk)
            Violation("cost changed by " + std::to_string(nDelta) + " (from " + std::to_string(b.nCost) + ")");
    }
    if (!bNewGame)
        m_nCost += nCharge;
    if (v.m_nCost != m_nCost) {
        Violation("cost is " + std::to_string(v.m_nCost) + ", expected " + std::to_string(m_nCost));
        m_nCost = v.m_nCost;  // report a fault once
    }

    // Scoring: the dirt a fresh drawing shows, the bonus where the golden
    // arrangement lies, and the money that follows from them.
    if (bScored) {
        if (m_nDirt >= 0 && v.m_nPenalty != 4 * m_nDirt)
            Violation("penalty " + std::to_string(v.m_nPenalty) + ", a fresh board drawing shows " +
                      std::to_string(m_nDirt) + " dirt pixels");
        // Its probes reach two rows below the patio, which must lie above the
        // prompt line and the status panel.
        const bool bProbesShow = m_nDirt >= 0 && b.rcClient.bottom - 2 * b.nUnitY >= RC_PATIO.bottom + 2;
        if (bProbesShow && v.m_nLayout == 2 &&
            std::equal(std::begin(b.rcStone), std::end(b.rcStone), std::begin(kLayout2Perfect)) && v.m_nBonus != kBonus)
            Violation("bonus " + std::to_string(v.m_nBonus) + " for the perfect arrangement");
        const int nExpected = std::max(0, kPay + v.m_nBonus - v.m_nPenalty - v.m_nCost);
        if (v.m_nProfit != nExpected)
            Violation("profit " + std::to_string(v.m_nProfit) + ", expected " + std::to_string(nExpected));
    } else if (!bNewGame && (v.m_nPenalty != b.nPenalty || v.m_nBonus != b.nBonus || v.m_nProfit != b.nProfit)) {
        Violation("penalty, bonus and profit went from " + std::to_string(b.nPenalty) + ", " +
                  std::to_string(b.nBonus) + ", " + std::to_string(b.nProfit) + " to " + std::to_string(v.m_nPenalty) +
                  ", " + std::to_string(v.m_nBonus) + ", " + std::to_string(v.m_nProfit) + " without scoring");
    }
    // Total profit: grows once, by the profit, when a job is scored.
    if (v.m_nTotalProfit < b.nTotal)
        Violation("total profit fell from " + std::to_string(b.nTotal) + " to " + std::to_string(v.m_nTotalProfit));
    if (v.m_nTotalProfit != (bScored && v.m_nStage == 3 ? b.nTotal + v.m_nProfit : b.nTotal))
        Violation("total profit went from " + std::to_string(b.nTotal) + " to " + std::to_string(v.m_nTotalProfit));
    if ((b.nStage == 2 || b.nStage == 3) && v.m_nStage == b.nStage && v.m_strResults != b.strResults)
        Violation("the results text changed after scoring");

    // Sound cues: at most one, only for a stopped move, the one the rules give.
    const std::vector<int>& played = m_sounds.m_played;
    if (played.size() > 1)
        Violation(std::to_string(played.size()) + " sound cues in one event");
    if (!played.empty() && !((bArrow || bMove) && bPlay))
        Violation("sound cue " + std::to_string(played.front()) + " outside a move");
    if (m_bHaveSounds) {
        const int nPlayed = played.empty() ? 0 : played.front();
        if (nPlayed != nCueWant)
            Violation("sound cue " + std::to_string(nPlayed) + ", expected " + std::to_string(nCueWant));
    }

    // Messages that must leave the screen as it is.
    bool bQuiet = false;
    if (b.bHalted && eEvent != EEvent::Paint && eEvent != EEvent::Resize && eEvent != EEvent::NewView)
        bQuiet = true;
    else if (bKey)
        bQuiet = !IsGameKey(nChar) || (nChar == VK_F1 && b.nStage != 1) || (nChar == VK_END && b.nStage < 1) ||
                 (bArrow && b.nStage != 1);
    else if (bPress || eEvent == EEvent::Print)
        bQuiet = true;
    else if (bMove)
        bQuiet = !b.bDragging || b.nStage != 1;
    else if (bRelease)
        bQuiet = b.nStage != 1;
    if (bQuiet && !m_updates.empty())
        Violation("drew on the screen at " + Str(m_updates.front()) + " for a message it must ignore");

    // The board as a fresh drawing would show it: what the event drew and
    // where stones moved, and now and then all of it.
    if (!m_bBoardShowing)
        return;
    std::vector<CRect> regions = m_updates;
    for (int j = 0; j < NUM_STONES; ++j)
        if (b.rcStone[j] != v.m_rcStone[j]) {
            regions.push_back(b.rcStone[j]);
            regions.push_back(v.m_rcStone[j]);
        }
    if (++m_nEventsSinceWholeCheck >= kEventsBetweenWholeChecks || (bKey && nChar == VK_SPACE))
        CheckBoard(true, {});
    else
        CheckBoard(false, regions);
}

// A second view of the live client size that has drawn the board with the
// live stones as space draws it: the client area cleared, then the board.
const CSlabixView* CFuzzDriver::FreshBoard()
{
    const CSlabixView& v = *m_pView;
    const QImage& live = v.FrameBuffer();
    if (live.isNull() || live.width() != v.m_rcClient.right || live.height() != v.m_rcClient.bottom)
        return nullptr;
    if (!m_pReference || m_pReference->FrameBuffer().size() != live.size()) {
        m_pReference = std::make_unique<CSlabixView>();
        m_pReference->SetClientSize(live.width(), live.height());
        m_pReference->Paint();
    }
    CSlabixView& ref = *m_pReference;
    if (ref.m_nStage != 1 || !std::equal(std::begin(ref.m_rcStone), std::end(ref.m_rcStone), std::begin(v.m_rcStone))) {
        std::copy(std::begin(v.m_rcStone), std::end(v.m_rcStone), ref.m_rcStone);
        ref.OnKeyDown(VK_SPACE, 1, 0);
    }
    return ref.m_bHalted || ref.m_nStage != 1 ? nullptr : &ref;
}

// The dirt pixels End's scan (x 451 to 1003, y 351 to 639) finds on a fresh
// drawing of the board.
int CFuzzDriver::FreshDirt()
{
    const CSlabixView* pFresh = FreshBoard();
    if (!pFresh)
        return -1;
    const QImage& image = pFresh->FrameBuffer();
    const QRgb dirt = ToQRgb(CR_DIRT);
    int nDirt = 0;
    for (int y = RC_PATIO.top + 1; y < std::min(RC_PATIO.bottom, image.height()); ++y) {
        const auto* pRow = reinterpret_cast<const QRgb*>(image.constScanLine(y));
        for (int x = RC_PATIO.left + 1; x < std::min(RC_PATIO.right, image.width()); ++x)
            nDirt += pRow[x] == dirt;
    }
    // Beyond a short framebuffer the scan reads a board drawn off the screen.
    return image.height() >= RC_PATIO.bottom && image.width() >= RC_PATIO.right ? nDirt : -1;
}

// Compares the patio and every stone on the screen with a fresh drawing of the
// board, in the given regions, or everywhere when bWhole. Rows from the
// prompt line down are left out: the prompt and the status panel are drawn
// over stones there.
void CFuzzDriver::CheckBoard(bool bWhole, const std::vector<CRect>& regionsIn)
{
    const CSlabixView& v = *m_pView;
    if (v.m_bHalted || v.m_nStage != 1 || !m_bBoardShowing)
        return;
    if (bWhole)
        m_nEventsSinceWholeCheck = 0;
    const CSlabixView* pReference = FreshBoard();
    if (!pReference)
        return;
    const QImage& live = v.FrameBuffer();
    const QImage& fresh = pReference->FrameBuffer();
    const std::vector<CRect> whole{CRect(0, 0, live.width(), live.height())};
    const std::vector<CRect>& regions = bWhole ? whole : regionsIn;
    if (regions.empty())
        return;
    ++m_coverage.nBoardChecks;

    std::vector<CRect> targets(std::begin(v.m_rcStone), std::end(v.m_rcStone));
    targets.push_back(RC_PATIO);
    const CRect rcCompared(0, 0, live.width(), std::min(live.height(), v.m_rcClient.bottom - 2 * v.m_nUnitY));

    for (const CRect& region : regions) {
        for (const CRect& target : targets) {
            const CRect rc = Intersect(Intersect(region, target), rcCompared);
            if (IsEmpty(rc))
                continue;
            for (int y = rc.top; y < rc.bottom; ++y) {
                const auto* pLive = reinterpret_cast<const QRgb*>(live.constScanLine(y)) + rc.left;
                const auto* pFresh = reinterpret_cast<const QRgb*>(fresh.constScanLine(y)) + rc.left;
                if (std::memcmp(pLive, pFresh, sizeof(QRgb) * std::size_t(rc.Width())) == 0)
                    continue;
                int x = 0;
                while (pLive[x] == pFresh[x])
                    ++x;
                std::ostringstream os;
                os << std::hex << "board pixel (" << std::dec << rc.left + x << ',' << y << ") is 0x" << std::hex
                   << FromQRgb(pLive[x]) << ", a fresh board drawing has 0x" << FromQRgb(pFresh[x]);
                Violation(os.str());
                return;  // one difference is enough; the next whole check starts afresh
            }
        }
    }
}

