// Helpers for the play and scoring tests: input shortcuts, a check of the
// screen against a freshly drawn board, a search for tilings of the patio
// and a planner for collision-free fork-lift moves.
#pragma once

#include "tests/TestSupport.h"

#include <QImage>
#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <functional>
#include <optional>
#include <ostream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

namespace kit {

// The patio outline and its inside (the dirt the stones must cover).
constexpr CRect kPatio(450, 350, 1004, 640);
constexpr int kInsideLeft = 451;
constexpr int kInsideTop = 351;
constexpr int kInsideWidth = 552;
constexpr int kInsideHeight = 288;

constexpr COLORREF kWhite = 0x00FFFFFF;
constexpr COLORREF kBlack = 0x00000000;
constexpr COLORREF kDirt = 0x00E0E8F0;

// ---------------------------------------------------------------------------
// Input

inline void Key(CSlabixView& view, UINT nChar) { view.OnKeyDown(nChar, 1, 0); }
inline void Down(CSlabixView& view, CPoint pt) { view.OnLButtonDown(0, pt); }
inline void Move(CSlabixView& view, CPoint pt) { view.OnMouseMove(0, pt); }
inline void Up(CSlabixView& view, CPoint pt) { view.OnLButtonUp(0, pt); }

inline CPoint Centre(const CRect& rc) { return {(rc.left + rc.right) / 2, (rc.top + rc.bottom) / 2}; }
inline CPoint Offset(CPoint pt, int dx, int dy) { return {pt.x + dx, pt.y + dy}; }
inline CRect Shifted(const CRect& rc, int dx, int dy)
{
    return {rc.left + dx, rc.top + dy, rc.right + dx, rc.bottom + dy};
}

// The lowest bottom edge a stone may reach: the last row it may cover is
// two vertical units above the client area's bottom.
inline int LowestBottom(const CSlabixView& view) { return view.m_rcClient.bottom - 2 * view.m_nUnitY + 1; }

inline bool Overlap(const CRect& a, const CRect& b)
{
    return a.left < b.right && b.left < a.right && a.top < b.bottom && b.top < a.bottom;
}

inline std::string Str(const CRect& rc)
{
    std::ostringstream os;
    os << "(" << rc.left << ", " << rc.top << ", " << rc.right << ", " << rc.bottom << ")";
    return os.str();
}

// Twelve small stones in a row along the top of the client area, clear of the
// patio, of one another and of every boundary; a test then moves the few it
// needs. The stones keep these sizes for the rest of the test.
inline std::array<CRect, NUM_STONES> ParkedPlaces()
{
    std::array<CRect, NUM_STONES> rc;
    for (int i = 0; i < NUM_STONES; ++i)
        rc[i] = CRect(20 + 34 * i, 20, 20 + 34 * i + 24, 44);
    return rc;
}
inline void ParkStones(CSlabixView& view)
{
    const auto rc = ParkedPlaces();
    for (int i = 0; i < NUM_STONES; ++i)
        view.m_rcStone[i] = rc[i];
}

// Writes places for the stones and redraws the board the way the player does
// it, with the space bar.
inline void PlaceAndRedraw(CSlabixView& view, const std::array<CRect, NUM_STONES>& rc)
{
    for (int i = 0; i < NUM_STONES; ++i)
        view.m_rcStone[i] = rc[i];
    Key(view, VK_SPACE);
}

// The clock second at which a new game picks the given layout.
inline crt::time_t SeedForLayout(int nLayout)
{
    for (crt::time_t t = 1700000000; t < 1700000000 + 1000; ++t) {
        FixedClock clock(t);
        CSlabixView view;
        if (view.m_nLayout == nLayout)
            return t;
    }
    return -1;
}

// ---------------------------------------------------------------------------
// Screen against a freshly drawn board

struct Mismatch {
    int x = 0;
    int y = 0;
    COLORREF got = 0;
    COLORREF want = 0;
};

inline COLORREF Pixel(const QImage& image, int x, int y)
{
    return FromQRgb(reinterpret_cast<const std::uint32_t*>(image.constScanLine(y))[x]);
}

// Compares a view whose stones were moved step by step with a second view that
// draws the board afresh, on a white client area, with the same stones, cost
// and layout. Everything above the prompt line must be equal. In the rows of
// the prompt line and the status panel a stone that passed leaves white
// behind; there the check is exact where no stone passed, exact under the
// stones, white where a stone passed (outside the status boxes, which the
// game redraws whenever the cost changes).
class BoardCheck {
public:
    explicit BoardCheck(const CSlabixView& moved)
        : m_nWidth(moved.m_rcClient.right),
          m_nHeight(moved.m_rcClient.bottom),
          m_nBandTop(moved.m_rcClient.bottom - 2 * moved.m_nUnitY),
          m_passed(static_cast<size_t>(m_nWidth) * (m_nHeight - m_nBandTop), 0),
          m_rcCost(moved.m_rcCost),
          m_rcLayoutNo(moved.m_rcLayoutNo)
    {
    }

    // A move from 'before' to 'after': horizontal leg first, then vertical.
    void NoteMove(const CRect& before, const CRect& after)
    {
        const CRect corner(after.left, before.top, after.right, before.bottom);
        NoteArea(Union(before, corner));
        NoteArea(Union(corner, after));
    }

    std::vector<Mismatch> Compare(const CSlabixView& moved, CSlabixView& reference, size_t nMax = 8) const
    {
        for (int i = 0; i < NUM_STONES; ++i)
            reference.m_rcStone[i] = moved.m_rcStone[i];
        reference.m_nCost = moved.m_nCost;
        reference.m_nLayout = moved.m_nLayout;
        reference.m_nCurStone = 0;
        Key(reference, VK_SPACE);

        std::vector<Mismatch> out;
        const QImage& a = moved.FrameBuffer();
        const QImage& b = reference.FrameBuffer();
        for (int y = 0; y < m_nHeight && out.size() < nMax; ++y) {
            const auto* pa = reinterpret_cast<const std::uint32_t*>(a.constScanLine(y));
            const auto* pb = reinterpret_cast<const std::uint32_t*>(b.constScanLine(y));
            if (y < m_nBandTop && std::memcmp(pa, pb, sizeof(std::uint32_t) * m_nWidth) == 0)
                continue;
            for (int x = 0; x < m_nWidth && out.size() < nMax; ++x) {
                const COLORREF got = FromQRgb(pa[x]);
                const COLORREF want = FromQRgb(pb[x]);
                if (y < m_nBandTop) {
                    if (got != want)
                        out.push_back({x, y, got, want});
                    continue;
                }
                bool bUnderStone = false;
                for (const CRect& rc : moved.m_rcStone)
                    bUnderStone = bUnderStone || Inside(rc, x, y);
                const bool bPassed = m_passed[Index(x, y)] != 0;
                const bool bBox = Inside(m_rcCost, x, y) || Inside(m_rcLayoutNo, x, y);
                if (bPassed && bBox)
                    continue;
                if (bPassed && !bUnderStone) {
                    if (got != kWhite)
                        out.push_back({x, y, got, kWhite});
                } else if (got != want) {
                    out.push_back({x, y, got, want});
                }
            }
        }
        return out;
    }

    static std::string Describe(const std::vector<Mismatch>& mismatches)
    {
        std::ostringstream os;
        os << std::hex;
        for (const Mismatch& m : mismatches)
            os << std::dec << "(" << m.x << ", " << m.y << ") " << std::hex << "got 0x" << m.got << " want 0x"
               << m.want << "; ";
        return os.str();
    }

private:
    static CRect Union(const CRect& a, const CRect& b)
    {
        return {std::min(a.left, b.left), std::min(a.top, b.top), std::max(a.right, b.right),
                std::max(a.bottom, b.bottom)};
    }
    static bool Inside(const CRect& rc, int x, int y)
    {
        return x >= rc.left && x < rc.right && y >= rc.top && y < rc.bottom;
    }
    size_t Index(int x, int y) const { return static_cast<size_t>(y - m_nBandTop) * m_nWidth + x; }
    void NoteArea(const CRect& rc)
    {
        for (int y = std::max(rc.top, m_nBandTop); y < std::min(rc.bottom, m_nHeight); ++y)
            for (int x = std::max(rc.left, 0); x < std::min(rc.right, m_nWidth); ++x)
                m_passed[Index(x, y)] = 1;
    }

    int m_nWidth;
    int m_nHeight;
    int m_nBandTop;
    std::vector<std::uint8_t> m_passed;
    CRect m_rcCost;
    CRect m_rcLayoutNo;
};

// ---------------------------------------------------------------------------
// Tilings of the patio

// The stone that shares stone i's colour, or -1.
inline int Partner(int i) { return i < 4 ? i + 8 : (i >= 8 ? i - 8 : -1); }

// Length of the stretch of edge two non-overlapping rectangles share.
inline int SharedEdge(const CRect& a, const CRect& b)
{
    if (a.right == b.left || b.right == a.left)
        return std::max(0, std::min(a.bottom, b.bottom) - std::max(a.top, b.top));
    if (a.bottom == b.top || b.bottom == a.top)
        return std::max(0, std::min(a.right, b.right) - std::max(a.left, b.left));
    return 0;
}

// Same-coloured stones that meet only corner to corner.
inline bool MeetAtCorner(const CRect& a, const CRect& b)
{
    const bool bX = a.right == b.left || b.right == a.left;
    const bool bY = a.bottom == b.top || b.bottom == a.top;
    return bX && bY;
}

using Places = std::array<CRect, NUM_STONES>;

// Searches tilings of the patio's inside by the twelve stones, unrotated,
// each placed at the first uncovered pixel in reading order. Places are
// given in client coordinates. 'accept' sees each complete tiling and ends
// the search by returning true.
class TilingSearch {
public:
    TilingSearch(const std::array<CPoint, NUM_STONES>& sizes, bool bSeparateColours, unsigned nShuffle = 0)
        : m_sizes(sizes), m_bSeparate(bSeparateColours)
    {
        for (int i = 0; i < NUM_STONES; ++i)
            m_order[i] = i;
        if (nShuffle != 0) {
            std::mt19937 rng(nShuffle);
            std::shuffle(m_order.begin(), m_order.end(), rng);
        }
    }

    std::optional<Places> Find(const std::function<bool(const Places&)>& accept, long nNodeLimit = 2000000)
    {
        m_accept = accept;
        m_nNodes = 0;
        m_nLimit = nNodeLimit;
        m_used.fill(false);
        if (Extend(0))
            return m_result;
        return std::nullopt;
    }

    static std::array<CPoint, NUM_STONES> SizesOf(const CSlabixView& view)
    {
        std::array<CPoint, NUM_STONES> sizes;
        for (int i = 0; i < NUM_STONES; ++i)
            sizes[i] = CPoint(view.m_rcStone[i].Width(), view.m_rcStone[i].Height());
        return sizes;
    }

private:
    bool Extend(int nPlaced)
    {
        if (++m_nNodes > m_nLimit)
            return false;
        if (nPlaced == NUM_STONES) {
            Places places;
            for (int i = 0; i < NUM_STONES; ++i)
                places[i] = Shifted(m_box[i], kInsideLeft, kInsideTop);
            if (m_accept(places)) {
                m_result = places;
                return true;
            }
            return false;
        }

        // The first uncovered pixel lies on a left edge (0 or a stone's right)
        // and a top edge (0 or a stone's bottom).
        std::vector<int> xs{0}, ys{0};
        for (int i = 0; i < NUM_STONES; ++i) {
            if (!m_used[i])
                continue;
            xs.push_back(m_box[i].right);
            ys.push_back(m_box[i].bottom);
        }
        std::sort(xs.begin(), xs.end());
        std::sort(ys.begin(), ys.end());
        int nX = -1, nY = -1;
        for (int y : ys) {
            if (y >= kInsideHeight)
                continue;
            for (int x : xs) {
                if (x >= kInsideWidth || Covered(x, y))
                    continue;
                nX = x;
                nY = y;
                break;
            }
            if (nX >= 0)
                break;
        }
        if (nX < 0)
            return false;

        for (int k : m_order) {
            if (m_used[k])
                continue;
            const CPoint size = m_sizes[k];
            const CRect box(nX, nY, nX + size.x, nY + size.y);
            if (box.right > kInsideWidth || box.bottom > kInsideHeight)
                continue;
            bool bFree = true;
            for (int i = 0; i < NUM_STONES && bFree; ++i)
                bFree = !(m_used[i] && Overlap(m_box[i], box));
            if (!bFree)
                continue;
            const int nPartner = Partner(k);
            if (m_bSeparate && nPartner >= 0 && m_used[nPartner] && SharedEdge(m_box[nPartner], box) > 0)
                continue;
            m_used[k] = true;
            m_box[k] = box;
            if (Extend(nPlaced + 1))
                return true;
            m_used[k] = false;
        }
        return false;
    }

    bool Covered(int x, int y) const
    {
        for (int i = 0; i < NUM_STONES; ++i)
            if (m_used[i] && x >= m_box[i].left && x < m_box[i].right && y >= m_box[i].top && y < m_box[i].bottom)
                return true;
        return false;
    }

    std::array<CPoint, NUM_STONES> m_sizes;
    bool m_bSeparate;
    std::array<int, NUM_STONES> m_order{};
    std::array<bool, NUM_STONES> m_used{};
    std::array<CRect, NUM_STONES> m_box{};
    std::function<bool(const Places&)> m_accept;
    Places m_result{};
    long m_nNodes = 0;
    long m_nLimit = 0;
};

// The tiling mirrored left to right and/or top to bottom within the patio.
inline Places Mirrored(const Places& places, bool bAcross, bool bUpDown)
{
    Places out = places;
    for (CRect& rc : out) {
        if (bAcross)
            rc = CRect(2 * kInsideLeft + kInsideWidth - rc.right, rc.top, 2 * kInsideLeft + kInsideWidth - rc.left,
                       rc.bottom);
        if (bUpDown)
            rc = CRect(rc.left, 2 * kInsideTop + kInsideHeight - rc.bottom, rc.right,
                       2 * kInsideTop + kInsideHeight - rc.top);
    }
    return out;
}

// True when no two same-coloured stones share a stretch of edge.
inline bool ColoursSeparate(const Places& places)
{
    for (int i = 0; i < 4; ++i)
        if (SharedEdge(places[i], places[i + 8]) > 0)
            return false;
    return true;
}

// ---------------------------------------------------------------------------
// Fork-lift paths

// Plans collision-free paths for a stone's top-left corner over the client
// area, within the limits a step may reach: left >= 1, top >= 1,
// right <= client width, bottom <= the lowest bottom. A path is a list of
// straight legs (dx, dy), one of them 0.
class PathPlanner {
public:
    PathPlanner(int nClientWidth, int nLowestBottom) : m_nWidth(nClientWidth), m_nLowest(nLowestBottom) {}

    std::optional<std::vector<CPoint>> Plan(const CRect& from, CPoint to, const std::vector<CRect>& obstacles)
    {
        const int w = from.Width();
        const int h = from.Height();
        const int nx = m_nWidth - w;   // x from 1 to nx
        const int ny = m_nLowest - h;  // y from 1 to ny
        if (nx < 1 || ny < 1)
            return std::nullopt;
        auto inRange = [&](int x, int y) { return x >= 1 && x <= nx && y >= 1 && y <= ny; };
        if (!inRange(from.left, from.top) || !inRange(to.x, to.y))
            return std::nullopt;

        // Positions at which the stone would overlap an obstacle, as a 2D
        // difference array summed up.
        const int nStride = nx + 2;
        m_blocked.assign(static_cast<size_t>(nStride) * (ny + 2), 0);
        auto at = [&](int x, int y) -> std::int32_t& { return m_blocked[static_cast<size_t>(y) * nStride + x]; };
        for (const CRect& ob : obstacles) {
            const int x0 = std::max(1, ob.left - w + 1), x1 = std::min(nx, ob.right - 1);
            const int y0 = std::max(1, ob.top - h + 1), y1 = std::min(ny, ob.bottom - 1);
            if (x0 > x1 || y0 > y1)
                continue;
            at(x0, y0) += 1;
            at(x1 + 1, y0) -= 1;
            at(x0, y1 + 1) -= 1;
            at(x1 + 1, y1 + 1) += 1;
        }
        for (int y = 0; y <= ny + 1; ++y)
            for (int x = 1; x <= nx + 1; ++x)
                at(x, y) += at(x - 1, y);
        for (int y = 1; y <= ny + 1; ++y)
            for (int x = 0; x <= nx + 1; ++x)
                at(x, y) += at(x, y - 1);
        if (at(from.left, from.top) != 0 || at(to.x, to.y) != 0)
            return std::nullopt;

        // Breadth-first search; 'how' holds the step that reached a position.
        enum : std::uint8_t { kNone, kStart, kRight, kLeft, kDown, kUp };
        m_how.assign(m_blocked.size(), kNone);
        m_queue.clear();
        const int nStart = from.top * nStride + from.left;
        const int nGoal = to.y * nStride + to.x;
        m_how[nStart] = kStart;
        m_queue.push_back(nStart);
        for (size_t q = 0; q < m_queue.size() && m_how[nGoal] == kNone; ++q) {
            const int n = m_queue[q];
            const int x = n % nStride, y = n / nStride;
            auto visit = [&](int nx2, int ny2, std::uint8_t how) {
                if (!inRange(nx2, ny2))
                    return;
                const int m = ny2 * nStride + nx2;
                if (m_how[m] != kNone || m_blocked[m] != 0)
                    return;
                m_how[m] = how;
                m_queue.push_back(m);
            };
            visit(x + 1, y, kRight);
            visit(x - 1, y, kLeft);
            visit(x, y + 1, kDown);
            visit(x, y - 1, kUp);
        }
        if (m_how[nGoal] == kNone)
            return std::nullopt;

        std::vector<CPoint> steps;
        for (int n = nGoal; n != nStart;) {
            switch (m_how[n]) {
            case kRight: steps.push_back({1, 0}); n -= 1; break;
            case kLeft: steps.push_back({-1, 0}); n += 1; break;
            case kDown: steps.push_back({0, 1}); n -= nStride; break;
            case kUp: steps.push_back({0, -1}); n += nStride; break;
            default: return std::nullopt;
            }
        }
        std::reverse(steps.begin(), steps.end());
        std::vector<CPoint> legs;
        for (const CPoint& s : steps) {
            if (!legs.empty() && ((s.x != 0 && legs.back().x != 0 && (s.x > 0) == (legs.back().x > 0)) ||
                                  (s.y != 0 && legs.back().y != 0 && (s.y > 0) == (legs.back().y > 0)))) {
                legs.back().x += s.x;
                legs.back().y += s.y;
            } else {
                legs.push_back(s);
            }
        }
        return legs;
    }

private:
    int m_nWidth;
    int m_nLowest;
    std::vector<std::int32_t> m_blocked;
    std::vector<std::uint8_t> m_how;
    std::vector<int> m_queue;
};

}  // namespace kit
