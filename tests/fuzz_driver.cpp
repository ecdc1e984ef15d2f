// Random input against the game view; see fuzz_driver.h.
#include "tests/fuzz_driver.h"

#include "platform/Runtime.h"

#include <QPainter>
#include <QPrinter>

#include <algorithm>
#include <climits>
#include <cstring>
#include <sstream>

namespace {

constexpr int kPay = 8000;
constexpr int kBonus = 2400;
constexpr COLORREF kBlack = 0x00000000;
constexpr COLORREF kWhite = 0x00FFFFFF;
constexpr int kMaxMessages = 40;
// A view that stays halted this many events is replaced by a new one.
constexpr long kHaltedEventsBeforeNewView = 40;
// Every so often the whole board is compared, not only what an event touched.
constexpr long kEventsBetweenWholeChecks = 150;

// The patio's interior, where the dirt shows.
constexpr CRect kInterior(451, 351, 1003, 639);

// A perfect arrangement of layout 2 (shown as 3): the patio fully covered and
// no two stones of one colour sharing an edge.
constexpr CRect kLayout2Solution[NUM_STONES] = {
    {853, 591, 923, 639}, {923, 591, 1003, 639}, {773, 543, 853, 639}, {693, 495, 773, 639},
    {613, 447, 693, 639}, {853, 543, 1003, 591}, {773, 495, 1003, 543}, {693, 447, 1003, 495},
    {613, 399, 1003, 447}, {533, 351, 1003, 399}, {533, 399, 613, 639}, {451, 351, 533, 639},
};

bool IsEmpty(const CRect& rc) { return rc.right <= rc.left || rc.bottom <= rc.top; }

CRect Intersect(const CRect& a, const CRect& b)
{
    CRect rc(std::max(a.left, b.left), std::max(a.top, b.top), std::min(a.right, b.right),
             std::min(a.bottom, b.bottom));
    return IsEmpty(rc) ? CRect() : rc;
}

bool Overlap(const CRect& a, const CRect& b) { return !IsEmpty(Intersect(a, b)); }

long long Area(const CRect& rc) { return IsEmpty(rc) ? 0 : (long long)rc.Width() * rc.Height(); }

bool Hits(const CRect& rc, CPoint pt)
{
    return rc.left < pt.x && pt.x < rc.right && rc.top < pt.y && pt.y < rc.bottom;
}

bool Contains(const CRect& rc, int x, int y)
{
    return x >= rc.left && x < rc.right && y >= rc.top && y < rc.bottom;
}

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

// The layout a set-up picks at this clock: the runtime's generator seeded with
// the time, its first value modulo five.
int LayoutPickedAt(std::int64_t nClock)
{
    std::uint32_t nState = static_cast<std::uint32_t>(nClock);
    nState = nState * 214013u + 2531011u;
    return int((nState >> 16) & 0x7FFF) % NUM_LAYOUTS;
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
// Client sizes a new view gets: the accepted range and its edges, and a few
// short ones where the patio reaches into the prompt line or off the screen.
constexpr Size kViewSizes[] = {
    {1020, 700}, {1020, 740}, {1024, 768}, {1100, 800}, {1275, 900}, {1276, 960}, {1276, 961},
    {1280, 1000}, {1595, 1100}, {1596, 1150}, {1600, 1200}, {1020, 640}, {1300, 500}, {1020, 300},
};
// Sizes a resize picks besides the current one, accepted or not.
constexpr Size kResizeSizes[] = {
    {1020, 700}, {1024, 768}, {1596, 1150}, {1600, 1200}, {1019, 700}, {1601, 900},
    {800, 600},  {0, 0},      {1, 1},       {1020, 0},    {4000, 3000},
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

// The model -----------------------------------------------------------------

// What the view's fields must hold, kept by the driver from the messages it
// sends and the game's rules alone.
struct CFuzzDriver::Model {
    int nStage = 0;
    int bHalted = 0;
    int bScreenReady = 0;
    CRect rcClient;
    CRect rcFirstClient;
    int nUnitX = 0;
    int nUnitY = 0;
    int nLayout = 0;
    CRect rcStone[NUM_STONES];
    int nCurStone = 0;
    int bDragging = 0;
    CPoint ptPress;
    CPoint ptPrevious;
    int nCost = 0;
    int nTotal = 0;
    int nPenalty = 0;
    int nBonus = 0;
    int nProfit = 0;

    // Set by an event: the cue it must play (0: none), steps it took, and
    // whether its scoring must be taken from the view (the board was covered,
    // so the dirt cannot be known from the stones alone).
    int nCue = 0;
    long nSteps = 0;
    bool bScoreFromView = false;

    void NewGame(int nNewLayout)
    {
        nStage = 0;
        bHalted = 0;
        bScreenReady = 0;
        bDragging = 0;
        nCost = nPenalty = nBonus = 0;
        nLayout = nNewLayout;
        for (int i = 0; i < NUM_STONES; ++i)
            rcStone[i] = g_rcLayouts[nLayout][i];
        nCurStone = 0;
    }
};

struct CFuzzDriver::Before {
    int nStage = 0;
    int bHalted = 0;
    int nCost = 0;
    int nTotal = 0;
    int nLayout = 0;
    int nCurStone = 0;
    int bDragging = 0;
    CRect rcStone[NUM_STONES];
    QString strResults;
    int nPathLen = 0;  // of the current stone
    UINT nChar = 0;
    CPoint point;
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

CFuzzDriver::CFuzzDriver() : m_pModel(std::make_unique<Model>())
{
    m_pPreviousSound = SetSoundOutput(&m_sounds);
    m_bHaveSounds = FindResource(IDR_THUMP, "sound") != nullptr && FindResource(IDR_BUZZ, "sound") != nullptr;
    crt::SetClock([this] { return m_nClock; });
}

CFuzzDriver::~CFuzzDriver()
{
    m_pView.reset();
    m_references.clear();
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
    m_pView.reset();
    m_nClock = nClock;
    crt::SetClock([this] { return m_nClock; });
    m_pView = std::make_unique<CSlabixView>();
    m_pView->SetUpdateSink([this](const CRect& rc) { m_updates.push_back(rc); });

    Model& m = *m_pModel;
    m = Model();
    m.NewGame(LayoutPickedAt(nClock));

    m_pView->SetClientSize(nWidth, nHeight);
    m_bBoardShowing = false;
    m_nHaltedEvents = 0;
    m_ptPointer = CPoint(nWidth / 2, nHeight / 2);
    if (bPaint) {
        ModelPaint();
        m_pView->Paint();
    }
    m_updates.clear();
    m_sounds.m_played.clear();
    CheckAgainstModel();
    CheckInvariants();
}

void CFuzzDriver::NewView(CInputSource& src)
{
    const Size& size = kViewSizes[src.Below(std::size(kViewSizes))];
    Start(size.w, size.h, std::int64_t(src.Word()), src.Below(8) != 0);
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
    before.nCost = v.m_nCost;
    before.nTotal = v.m_nTotalProfit;
    before.nLayout = v.m_nLayout;
    before.nCurStone = v.m_nCurStone;
    before.bDragging = v.m_bDragging;
    std::copy(std::begin(v.m_rcStone), std::end(v.m_rcStone), before.rcStone);
    before.strResults = v.m_strResults;
    if (v.m_nCurStone >= 0 && v.m_nCurStone < NUM_STONES)
        before.nPathLen = v.m_nPathLen[v.m_nCurStone];
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
    Model& m = *m_pModel;
    m.nCue = 0;
    m.nSteps = 0;
    m.bScoreFromView = false;
}

void CFuzzDriver::SendKey(UINT nChar)
{
    Before before = Snapshot();
    before.nChar = nChar;
    const char* pszName = KeyName(nChar);
    BeginEvent(std::string("key ") + (pszName ? pszName : std::to_string(nChar)));
    ++m_coverage.nKeys;

    Model& m = *m_pModel;
    if (nChar == VK_SPACE && !m.bHalted && (m.nStage == 2 || m.nStage == 3))
        ++m_coverage.nNewGames;
    ModelKey(nChar);
    m_pView->OnKeyDown(nChar, 1, 0);
    m_coverage.nSteps += m.nSteps;

    const CSlabixView& v = *m_pView;
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
        m_strEvent = "event " + std::to_string(m_nEvents + 1) + " new view after a halt";
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
    Model& m = *m_pModel;

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
        if (nChar == VK_SPACE && (m.nStage == 2 || m.nStage == 3))
            m_nClock = std::int64_t(src.Word());  // picks the next game's layout
        SendKey(nChar);
        return;
    }

    Before before = Snapshot();
    BeginEvent("");
    std::ostringstream osEvent;
    osEvent << m_strEvent;

    bool bWholeCheck = false;
    switch (eEvent) {
    case EEvent::PressStone:
    case EEvent::PressAnywhere: {
        CPoint pt;
        if (eEvent == EEvent::PressStone) {
            const int i = src.Below(3) == 0 ? m.nCurStone : int(src.Below(NUM_STONES));
            pt = PickPointNear(src, v.m_rcStone[std::clamp(i, 0, NUM_STONES - 1)]);
        } else {
            pt = PickPoint(src);
        }
        osEvent << "button down at " << Str(pt);
        m_strEvent = osEvent.str();
        before.point = pt;
        m_ptPointer = pt;
        ++m_coverage.nPresses;
        ModelPress(pt);
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
        ModelMove(pt);
        v.OnMouseMove(0, pt);
        break;
    }
    case EEvent::Release: {
        CPoint pt;
        switch (src.Below(3)) {
        case 0: pt = m.ptPress; break;
        case 1: pt = m_ptPointer; break;
        default: pt = PickPoint(src); break;
        }
        osEvent << "button up at " << Str(pt);
        m_strEvent = osEvent.str();
        before.point = pt;
        m_ptPointer = pt;
        ModelRelease(pt);
        v.OnLButtonUp(0, pt);
        break;
    }
    case EEvent::Paint:
        osEvent << "paint";
        m_strEvent = osEvent.str();
        ++m_coverage.nPaints;
        ModelPaint();
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
            ModelPaint();
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
        osEvent << "new view";
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
        ModelPress(pt);
        v.OnLButtonDown(0, pt);
        if (src.Below(4) == 0 && v.m_bDragging)
            m_nBurstLeft = 1050;
        break;
    }
    case EEvent::GameKey:
    case EEvent::AnyKey:
        break;
    }

    if (before.bHalted == 0 && v.m_bHalted == 1)
        ++m_coverage.nHalts;
    const bool bMoved = eEvent == EEvent::MoveSmall || eEvent == EEvent::MoveMedium || eEvent == EEvent::MoveHuge;
    if (bMoved && v.m_bDragging && v.m_nCurStone == before.nCurStone && v.m_nCurStone >= 0 &&
        v.m_nCurStone < NUM_STONES && v.m_nPathLen[v.m_nCurStone] < before.nPathLen)
        ++m_coverage.nPathWraps;
    m_coverage.nSteps += m.nSteps;
    CheckEvent(before, eEvent);
    if (bWholeCheck)
        CheckBoard(true, before);
}

// Model transitions -------------------------------------------------------------

void CFuzzDriver::ModelStep(CSlabixView::EStep eStep, bool bByHand, long& nStepsTaken, int& nCue)
{
    Model& m = *m_pModel;
    CRect& rc = m.rcStone[m.nCurStone];
    bool bLeaves = true;
    switch (eStep) {
    case CSlabixView::STEP_RIGHT: bLeaves = !(rc.right <= m.rcClient.right - 1); break;
    case CSlabixView::STEP_LEFT: bLeaves = !(rc.left >= m.rcClient.left + 2); break;
    case CSlabixView::STEP_DOWN: bLeaves = !(rc.bottom <= m.rcClient.bottom - 2 * m.nUnitY); break;
    case CSlabixView::STEP_UP: bLeaves = !(rc.top >= m.rcClient.top + 2); break;
    }
    if (bLeaves) {
        nCue = IDR_BUZZ;
        m.bDragging = 0;
        ++m_coverage.nBoundaryStops;
        return;
    }
    if (bByHand)
        m.nCost += 2;
    for (int j = 0; j < NUM_STONES; ++j) {
        if (j == m.nCurStone)
            continue;
        const CRect& o = m.rcStone[j];
        const bool bRow = rc.top < o.bottom && rc.bottom > o.top;
        const bool bColumn = rc.left < o.right && rc.right > o.left;
        bool bHit = false;
        switch (eStep) {
        case CSlabixView::STEP_RIGHT: bHit = rc.right == o.left && bRow; break;
        case CSlabixView::STEP_LEFT: bHit = rc.left == o.right && bRow; break;
        case CSlabixView::STEP_DOWN: bHit = rc.bottom == o.top && bColumn; break;
        case CSlabixView::STEP_UP: bHit = rc.top == o.bottom && bColumn; break;
        }
        if (bHit) {
            nCue = IDR_THUMP;
            m.bDragging = 0;
            if (!bByHand) {
                m.nCost += 200;
                ++m_coverage.nCharges;
            }
            ++m_coverage.nCollisionStops;
            return;
        }
    }
    switch (eStep) {
    case CSlabixView::STEP_RIGHT: ++rc.left, ++rc.right; break;
    case CSlabixView::STEP_LEFT: --rc.left, --rc.right; break;
    case CSlabixView::STEP_DOWN: ++rc.top, ++rc.bottom; break;
    case CSlabixView::STEP_UP: --rc.top, --rc.bottom; break;
    }
    ++nStepsTaken;
}

void CFuzzDriver::ModelKey(UINT nChar)
{
    Model& m = *m_pModel;
    if (m.bHalted)
        return;
    switch (nChar) {
    case VK_SPACE:
        if (m.nStage == 2 || m.nStage == 3)
            m.NewGame(LayoutPickedAt(m_nClock));
        m.nStage = 1;
        break;
    case VK_END:
        if (m.nStage >= 1)
            ModelScore();
        break;
    case VK_LEFT:
    case VK_UP:
    case VK_RIGHT:
    case VK_DOWN:
        if (m.nStage == 1) {
            static constexpr CSlabixView::EStep kSteps[] = {CSlabixView::STEP_LEFT, CSlabixView::STEP_UP,
                                                           CSlabixView::STEP_RIGHT, CSlabixView::STEP_DOWN};
            int nCue = 0;
            ModelStep(kSteps[nChar - VK_LEFT], true, m.nSteps, nCue);
            m.nCue = nCue;
        }
        break;
    default:
        break;
    }
}

// The End command. The dirt and the bonus follow from the stones when the
// board is what the screen shows; the money follows from them.
void CFuzzDriver::ModelScore()
{
    Model& m = *m_pModel;
    if (m.nStage == 1) {
        // The prompt line and the status panel lie below the play area; when
        // that reaches into the patio, the screen shows them over the dirt.
        const bool bKnown = m_bBoardShowing && m.rcClient.bottom - 2 * m.nUnitY >= RC_PATIO.bottom;
        if (!bKnown) {
            m.bScoreFromView = true;
            m.nStage = 2;
            return;
        }
        long long nCovered = 0;
        for (const CRect& rc : m.rcStone)
            nCovered += Area(Intersect(rc, kInterior));
        m.nPenalty = int(4 * (Area(kInterior) - nCovered));
        m.nBonus = 0;
        if (m.nPenalty == 0) {
            // What the board shows at a pixel.
            auto colour = [&m](int x, int y) -> COLORREF {
                for (int i = 0; i < NUM_STONES; ++i) {
                    const CRect& rc = m.rcStone[i];
                    if (Contains(rc, x, y))
                        return (x == rc.left || x == rc.right - 1 || y == rc.top || y == rc.bottom - 1)
                                   ? kBlack
                                   : g_crStoneColour[i];
                }
                if (Contains(RC_PATIO, x, y))
                    return (x == RC_PATIO.left || x == RC_PATIO.right - 1 || y == RC_PATIO.top ||
                            y == RC_PATIO.bottom - 1)
                               ? kBlack
                               : CR_DIRT;
                return kWhite;
            };
            m.nBonus = kBonus;
            for (int i = 0; i < NUM_STONES && m.nBonus; ++i) {
                const int L = m.rcStone[i].left, T = m.rcStone[i].top, R = m.rcStone[i].right,
                          B = m.rcStone[i].bottom;
                const int probes[8][4] = {
                    {L + 2, T + 1, L - 3, T + 1}, {L + 2, B - 2, L - 3, B - 2}, {R - 3, T + 1, R + 2, T + 1},
                    {R - 3, B - 2, R + 2, B - 2}, {L + 1, T + 2, L + 1, T - 3}, {R - 2, T + 2, R - 2, T - 3},
                    {L + 1, B - 3, L + 1, B + 2}, {R - 2, B - 3, R - 2, B + 2},
                };
                for (const auto& p : probes)
                    if (colour(p[0], p[1]) == colour(p[2], p[3])) {
                        m.nBonus = 0;
                        break;
                    }
            }
        }
        m.nStage = 2;
    }
    m.nProfit = kPay + m.nBonus - m.nPenalty - m.nCost;
    if (m.nProfit < 1)
        m.nProfit = 0;
    if (m.nProfit > 0) {
        if (m.nStage == 2)
            m.nTotal += m.nProfit;
        m.nStage = 3;
    }
}

void CFuzzDriver::ModelPress(CPoint point)
{
    Model& m = *m_pModel;
    if (m.bHalted || m.nStage != 1)
        return;
    m.bDragging = 0;
    if (!Hits(m.rcStone[m.nCurStone], point)) {
        int nHit = -1;
        for (int i = 0; i < NUM_STONES && nHit < 0; ++i)
            if (Hits(m.rcStone[i], point))
                nHit = i;
        if (nHit < 0) {
            m.nCurStone = 0;
            return;
        }
        m.nCurStone = nHit;
    }
    m.ptPress = m.ptPrevious = point;
    m.bDragging = 1;
}

void CFuzzDriver::ModelMove(CPoint point)
{
    Model& m = *m_pModel;
    if (m.bHalted || !m.bDragging || m.nStage != 1)
        return;
    const long long nDx = (long long)point.x - m.ptPrevious.x;
    const long long nDy = (long long)point.y - m.ptPrevious.y;
    m.ptPrevious = point;
    int nCue = 0;
    const long nBefore = m.nSteps;
    for (long long n = std::llabs(nDx); n > 0 && nCue == 0; --n) {
        ModelStep(nDx > 0 ? CSlabixView::STEP_RIGHT : CSlabixView::STEP_LEFT, false, m.nSteps, nCue);
        if (m.nSteps - nBefore > 100000) {
            Violation("the model's stone ran more than 100000 steps");
            break;
        }
    }
    for (long long n = std::llabs(nDy); n > 0 && nCue == 0; --n) {
        ModelStep(nDy > 0 ? CSlabixView::STEP_DOWN : CSlabixView::STEP_UP, false, m.nSteps, nCue);
        if (m.nSteps - nBefore > 100000) {
            Violation("the model's stone ran more than 100000 steps");
            break;
        }
    }
    m.nCue = nCue;
}

void CFuzzDriver::ModelRelease(CPoint point)
{
    Model& m = *m_pModel;
    if (m.bHalted || m.nStage != 1)
        return;
    if (m.bDragging && point != m.ptPress) {
        m.nCost += 200;
        ++m_coverage.nCharges;
    }
    m.bDragging = 0;
}

void CFuzzDriver::ModelPaint()
{
    Model& m = *m_pModel;
    const QImage& fb = m_pView->FrameBuffer();
    if (fb.isNull())
        return;  // no client area: the window system does not paint
    m.rcClient = CRect(0, 0, fb.width(), fb.height());
    if (m.bScreenReady && m.rcClient != m.rcFirstClient) {
        m.bHalted = 1;
        return;
    }
    m.nUnitX = m.nUnitY = 10;
    const int w = m.rcClient.right;
    if (w < 1020 || w > 1600) {
        m.bHalted = 1;
        return;
    }
    if (w < 1276) {
        m.nUnitX = m.nUnitY = 12;
    } else if (w < 1596) {
        m.nUnitX = 14;
        m.nUnitY = m.rcClient.bottom > 960 ? 14 : 13;
    } else {
        m.nUnitX = m.nUnitY = 16;
    }
    if (!m.bScreenReady) {
        m.rcFirstClient = m.rcClient;
        m.bScreenReady = 1;
    }
    if ((m.nStage == 2 || m.nStage == 3) && !m.bHalted)
        ModelScore();  // the results redrawn: the same figures
}

// Printing --------------------------------------------------------------------

void CFuzzDriver::PrintRequest(CInputSource& src)
{
    CSlabixView& v = *m_pView;
    const bool bAllowed = !(v.m_nStage == 1 || v.m_bHalted == 1);
    if (bAllowed != !(m_pModel->nStage == 1 || m_pModel->bHalted))
        Violation("stage or halt differs from the model before printing");

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
    QImage& page = bLarge ? m_largePage : m_page;
    if (page.isNull())
        page = bLarge ? QImage(2550, 3300, QImage::Format_RGB32) : QImage(850, 1100, QImage::Format_RGB32);
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
    auto inkInRows = [&page](int nTop, int nBottom) {
        const QRgb white = qRgb(255, 255, 255);
        long n = 0;
        for (int y = std::max(0, nTop); y < std::min(nBottom, page.height()); ++y) {
            const auto* pRow = reinterpret_cast<const QRgb*>(page.constScanLine(y));
            for (int x = 0; x < page.width(); ++x)
                n += (pRow[x] | 0xFF000000u) != white;
        }
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

// A perfect arrangement for layout 2, laid straight into the view's fields
// (the stones whose place is free), then the board redrawn with space.
void CFuzzDriver::ArrangeSolution(CInputSource& src)
{
    CSlabixView& v = *m_pView;
    Model& m = *m_pModel;
    if (v.m_bHalted || v.m_nStage != 1 || v.m_nLayout != 2 || m.nLayout != 2)
        return;
    const bool bAll = src.Below(2) == 0;
    for (int i = 0; i < NUM_STONES; ++i) {
        if (!bAll && src.Below(2) == 0)
            continue;
        bool bFree = true;
        for (int j = 0; j < NUM_STONES; ++j)
            if (j != i && Overlap(kLayout2Solution[i], v.m_rcStone[j]))
                bFree = false;
        if (bFree)
            v.m_rcStone[i] = m.rcStone[i] = kLayout2Solution[i];
    }
    // Drags in progress stay as they were; the board comes back with space.
    m_updates.clear();
    ModelKey(VK_SPACE);
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

void CFuzzDriver::SyncModelFromView()
{
    const CSlabixView& v = *m_pView;
    Model& m = *m_pModel;
    m.nStage = v.m_nStage;
    m.bHalted = v.m_bHalted;
    m.bScreenReady = v.m_bScreenReady;
    m.rcClient = v.m_rcClient;
    m.rcFirstClient = v.m_rcFirstClient;
    m.nUnitX = v.m_nUnitX;
    m.nUnitY = v.m_nUnitY;
    m.nLayout = std::clamp(v.m_nLayout, 0, NUM_LAYOUTS - 1);
    std::copy(std::begin(v.m_rcStone), std::end(v.m_rcStone), m.rcStone);
    m.nCurStone = std::clamp(v.m_nCurStone, 0, NUM_STONES - 1);
    m.bDragging = v.m_bDragging;
    if (m.bDragging && v.m_nCurStone >= 0 && v.m_nCurStone < NUM_STONES) {
        const int n = std::clamp(v.m_nPathLen[v.m_nCurStone], 0, PATH_POINTS - 1);
        m.ptPress = v.m_ptPath[v.m_nCurStone][0];
        m.ptPrevious = v.m_ptPath[v.m_nCurStone][n];
    }
    m.nCost = v.m_nCost;
    m.nTotal = v.m_nTotalProfit;
    m.nPenalty = v.m_nPenalty;
    m.nBonus = v.m_nBonus;
    m.nProfit = v.m_nProfit;
}

void CFuzzDriver::CheckAgainstModel()
{
    const CSlabixView& v = *m_pView;
    Model& m = *m_pModel;
    const long nBefore = m_nViolations;
    auto expect = [this](const char* pszField, long long nView, long long nModel) {
        if (nView != nModel)
            Violation(std::string(pszField) + " is " + std::to_string(nView) + ", expected " +
                      std::to_string(nModel));
    };
    expect("stage", v.m_nStage, m.nStage);
    expect("halted", v.m_bHalted, m.bHalted);
    expect("screen ready", v.m_bScreenReady, m.bScreenReady);
    if (v.m_rcClient != m.rcClient)
        Violation("client rectangle " + Str(v.m_rcClient) + ", expected " + Str(m.rcClient));
    if (m.bScreenReady && v.m_rcFirstClient != m.rcFirstClient)
        Violation("first client rectangle " + Str(v.m_rcFirstClient) + ", expected " + Str(m.rcFirstClient));
    expect("unit x", v.m_nUnitX, m.nUnitX);
    expect("unit y", v.m_nUnitY, m.nUnitY);
    expect("layout", v.m_nLayout, m.nLayout);
    for (int i = 0; i < NUM_STONES; ++i)
        if (v.m_rcStone[i] != m.rcStone[i])
            Violation("stone " + std::to_string(i) + " at " + Str(v.m_rcStone[i]) + ", expected " +
                      Str(m.rcStone[i]));
    expect("current stone", v.m_nCurStone, m.nCurStone);
    expect("dragging", v.m_bDragging, m.bDragging);
    expect("cost", v.m_nCost, m.nCost);
    expect("total profit", v.m_nTotalProfit, m.nTotal);
    expect("penalty", v.m_nPenalty, m.nPenalty);
    expect("bonus", v.m_nBonus, m.nBonus);
    expect("profit", v.m_nProfit, m.nProfit);
    if (m.bDragging && v.m_bDragging && v.m_nCurStone >= 0 && v.m_nCurStone < NUM_STONES) {
        if (v.m_ptPath[v.m_nCurStone][0] != m.ptPress)
            Violation("press point " + Str(v.m_ptPath[v.m_nCurStone][0]) + ", expected " + Str(m.ptPress));
        const int n = v.m_nPathLen[v.m_nCurStone];
        if (n >= 0 && n < PATH_POINTS && v.m_ptPath[v.m_nCurStone][n] != m.ptPrevious)
            Violation("newest drag point " + Str(v.m_ptPath[v.m_nCurStone][n]) + ", expected " +
                      Str(m.ptPrevious));
    }
    if (m_nViolations != nBefore)
        SyncModelFromView();  // report a fault once, not at every later event
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
    CheckAgainstModel();
    Before before;
    std::copy(std::begin(m_pView->m_rcStone), std::end(m_pView->m_rcStone), before.rcStone);
    CheckBoard(true, before);
    return m_nViolations - nBefore;
}

void CFuzzDriver::CheckEvent(const Before& before, EEvent eEvent)
{
    const CSlabixView& v = *m_pView;
    Model& m = *m_pModel;

    if (m.bScoreFromView) {
        // The board was not what the screen showed when End came: the dirt and
        // the bonus are what the view read; the money that follows from them
        // is still checked.
        m.bScoreFromView = false;
        m.nPenalty = v.m_nPenalty;
        m.nBonus = v.m_nBonus;
        m.nProfit = std::max(0, kPay + m.nBonus - m.nPenalty - m.nCost);
        if (m.nProfit > 0) {
            m.nTotal += m.nProfit;
            m.nStage = 3;
        }
    }

    CheckAgainstModel();
    CheckInvariants();

    const bool bKey = eEvent == EEvent::GameKey || eEvent == EEvent::AnyKey;
    const UINT nChar = before.nChar;
    const bool bNewGame = bKey && nChar == VK_SPACE && !before.bHalted && (before.nStage == 2 || before.nStage == 3);
    const bool bArrow = bKey && nChar >= VK_LEFT && nChar <= VK_DOWN;
    const bool bMove = eEvent == EEvent::MoveSmall || eEvent == EEvent::MoveMedium || eEvent == EEvent::MoveHuge;

    // Stage flow: 0 -> 1 by space, 1 -> 2 or 3 by End, 2 or 3 -> 1 by space.
    if (v.m_nStage != before.nStage) {
        const bool bOk = bKey && !before.bHalted &&
                         ((nChar == VK_SPACE && v.m_nStage == 1) ||
                          (nChar == VK_END && before.nStage == 1 && (v.m_nStage == 2 || v.m_nStage == 3)));
        if (!bOk)
            Violation("stage went from " + std::to_string(before.nStage) + " to " + std::to_string(v.m_nStage));
    }
    if (before.bHalted && !v.m_bHalted && eEvent != EEvent::NewView)
        Violation("a halted game started again");

    // Cost: 2 for a hand step, 200 for a fork-lift charge, only in play.
    const long long nDelta = (long long)v.m_nCost - before.nCost;
    if (bNewGame) {
        if (v.m_nCost != 0)
            Violation("a new game starts with cost " + std::to_string(v.m_nCost));
    } else if (nDelta != 0) {
        const bool bInPlay = before.nStage == 1 && v.m_nStage == 1 && !before.bHalted;
        const bool bOk = bInPlay && ((bArrow && nDelta == 2) ||
                                     ((bMove || eEvent == EEvent::Release) && nDelta == 200));
        if (!bOk)
            Violation("cost changed by " + std::to_string(nDelta) + " (from " + std::to_string(before.nCost) + ")");
    }
    if (eEvent == EEvent::Release && nDelta == 200) {
        if (!before.bDragging)
            Violation("a button-up charged without a drag");
        else if (v.m_ptPath[before.nCurStone][0] == before.point)
            Violation("a button-up at the press point charged");
    }

    // Total profit: grows once, by the profit, when a job is scored.
    if (v.m_nTotalProfit < before.nTotal)
        Violation("total profit fell from " + std::to_string(before.nTotal) + " to " +
                  std::to_string(v.m_nTotalProfit));
    if (v.m_nTotalProfit > before.nTotal) {
        const bool bOk = bKey && nChar == VK_END && before.nStage == 1 && v.m_nStage == 3 &&
                         v.m_nTotalProfit - before.nTotal == v.m_nProfit;
        if (!bOk)
            Violation("total profit grew from " + std::to_string(before.nTotal) + " to " +
                      std::to_string(v.m_nTotalProfit));
    }
    if (bKey && nChar == VK_END && before.nStage == 1 && !before.bHalted) {
        const int nExpected = std::max(0, kPay + v.m_nBonus - v.m_nPenalty - v.m_nCost);
        if (v.m_nProfit != nExpected)
            Violation("profit " + std::to_string(v.m_nProfit) + ", expected " + std::to_string(nExpected));
        if ((v.m_nStage == 3) != (v.m_nProfit > 0))
            Violation("scored to stage " + std::to_string(v.m_nStage) + " with profit " + std::to_string(v.m_nProfit));
    }
    if ((before.nStage == 2 || before.nStage == 3) && v.m_nStage == before.nStage &&
        v.m_strResults != before.strResults)
        Violation("the results text changed after scoring");

    // Stones move only in play, by a step of the current stone.
    if (!bNewGame && eEvent != EEvent::Arrange) {
        for (int i = 0; i < NUM_STONES; ++i) {
            if (v.m_rcStone[i] == before.rcStone[i])
                continue;
            if (!(before.nStage == 1 && (bArrow || bMove) && i == before.nCurStone))
                Violation("stone " + std::to_string(i) + " moved from " + Str(before.rcStone[i]) + " to " +
                          Str(v.m_rcStone[i]));
            else if (bArrow && std::abs(v.m_rcStone[i].left - before.rcStone[i].left) +
                                       std::abs(v.m_rcStone[i].top - before.rcStone[i].top) != 1)
                Violation("a hand step moved stone " + std::to_string(i) + " from " + Str(before.rcStone[i]) +
                          " to " + Str(v.m_rcStone[i]));
        }
    }
    if (bNewGame)
        for (int i = 0; i < NUM_STONES; ++i)
            if (v.m_nLayout >= 0 && v.m_nLayout < NUM_LAYOUTS && v.m_rcStone[i] != g_rcLayouts[v.m_nLayout][i])
                Violation("new game: stone " + std::to_string(i) + " not at its start place");

    // Sound cues: at most one, only for a stopped move, the one the rules give.
    const std::vector<int>& played = m_sounds.m_played;
    if (played.size() > 1)
        Violation(std::to_string(played.size()) + " sound cues in one event");
    if (!played.empty() && !((bArrow || bMove) && before.nStage == 1 && !before.bHalted))
        Violation("sound cue " + std::to_string(played.front()) + " outside a move");
    if (m_bHaveSounds) {
        const int nPlayed = played.empty() ? 0 : played.front();
        if (nPlayed != m.nCue)
            Violation("sound cue " + std::to_string(nPlayed) + ", expected " + std::to_string(m.nCue));
        if (bMove && nDelta == 200 && nPlayed != IDR_THUMP)
            Violation("a fork-lift charge without the collision cue");
    }

    // Messages that must leave the screen as it is.
    bool bQuiet = false;
    if (before.bHalted && eEvent != EEvent::Paint && eEvent != EEvent::Resize && eEvent != EEvent::NewView)
        bQuiet = true;
    else if (bKey)
        bQuiet = !IsGameKey(nChar) || (nChar == VK_F1 && before.nStage != 1) ||
                 (nChar == VK_END && before.nStage < 1) || (bArrow && before.nStage != 1);
    else if (eEvent == EEvent::PressStone || eEvent == EEvent::PressAnywhere || eEvent == EEvent::Print ||
             eEvent == EEvent::LongDrag)
        bQuiet = true;
    else if (bMove)
        bQuiet = !before.bDragging || before.nStage != 1;
    else if (eEvent == EEvent::Release)
        bQuiet = before.nStage != 1;
    if (bQuiet && !m_updates.empty())
        Violation("drew on the screen at " + Str(m_updates.front()) + " for a message it must ignore");

    // The board as a fresh drawing would show it.
    if (++m_nEventsSinceWholeCheck >= kEventsBetweenWholeChecks || (bKey && nChar == VK_SPACE)) {
        m_nEventsSinceWholeCheck = 0;
        CheckBoard(true, before);
    } else if (!bQuiet) {
        CheckBoard(false, before);
    }
}

// Compares the patio and every stone on the screen with a second view that
// has the same stones and has just drawn its board after space. Only what
// the event may have changed is compared, unless bWhole. Rows from the prompt
// line down are left out: the prompt and the status panel are drawn over
// stones there.
void CFuzzDriver::CheckBoard(bool bWhole, const Before& before)
{
    const CSlabixView& v = *m_pView;
    if (v.m_bHalted || v.m_nStage != 1 || !m_bBoardShowing)
        return;
    const QImage& live = v.FrameBuffer();
    if (live.isNull() || live.width() != v.m_rcClient.right || live.height() != v.m_rcClient.bottom)
        return;

    // One reference view per client size, kept for when the size comes back.
    const auto key = std::make_pair(live.width(), live.height());
    if (m_references.size() >= 8 && m_references.count(key) == 0)
        m_references.clear();
    std::unique_ptr<CSlabixView>& pReference = m_references[key];
    if (!pReference) {
        pReference = std::make_unique<CSlabixView>();
        pReference->SetClientSize(live.width(), live.height());
        pReference->Paint();
        std::copy(std::begin(v.m_rcStone), std::end(v.m_rcStone), pReference->m_rcStone);
        pReference->OnKeyDown(VK_SPACE, 1, 0);
    }
    CSlabixView& ref = *pReference;
    if (ref.m_bHalted || ref.m_nStage != 1)
        return;
    if (!std::equal(std::begin(ref.m_rcStone), std::end(ref.m_rcStone), std::begin(v.m_rcStone))) {
        // What space would draw: the client area cleared, then the board.
        // Only where stones left can the cleared area differ from the last
        // drawing, so only there is it cleared.
        QImage& image = ref.FrameBuffer();
        for (int i = 0; i < NUM_STONES; ++i) {
            if (ref.m_rcStone[i] == v.m_rcStone[i])
                continue;
            const CRect rc = Intersect(ref.m_rcStone[i], CRect(0, 0, image.width(), image.height()));
            for (int y = rc.top; y < rc.bottom; ++y)
                std::fill_n(reinterpret_cast<QRgb*>(image.scanLine(y)) + rc.left, rc.Width(), qRgb(255, 255, 255));
            ref.m_rcStone[i] = v.m_rcStone[i];
        }
        ref.m_nLayout = v.m_nLayout;
        ref.DrawBoard();
    }
    const QImage& fresh = ref.FrameBuffer();

    std::vector<CRect> regions;
    if (bWhole) {
        regions.push_back(CRect(0, 0, live.width(), live.height()));
    } else {
        regions = m_updates;
        for (int i = 0; i < NUM_STONES; ++i)
            if (before.rcStone[i] != v.m_rcStone[i]) {
                regions.push_back(before.rcStone[i]);
                regions.push_back(v.m_rcStone[i]);
            }
    }
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
