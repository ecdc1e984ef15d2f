// The handful of value types, in the old desktop API's shapes, that the game is written in.
#pragma once

#include <QString>
#include <cstdint>

using BOOL = int;
using UINT = unsigned int;
using COLORREF = std::uint32_t;  // 0x00BBGGRR, red in the low byte

constexpr BOOL TRUE = 1;
constexpr BOOL FALSE = 0;
constexpr COLORREF CLR_INVALID = 0xFFFFFFFF;


// Counted string of the texts.
using CString = QString;

struct CPoint {
    std::int32_t x = 0;
    std::int32_t y = 0;
    constexpr CPoint() = default;
    constexpr CPoint(std::int32_t ax, std::int32_t ay) : x(ax), y(ay) {}
    constexpr bool operator==(const CPoint&) const = default;
};

// Covers columns left .. right-1 and rows top .. bottom-1.
struct CRect {
    std::int32_t left = 0;
    std::int32_t top = 0;
    std::int32_t right = 0;
    std::int32_t bottom = 0;
    constexpr CRect() = default;
    constexpr CRect(std::int32_t l, std::int32_t t, std::int32_t r, std::int32_t b)
        : left(l), top(t), right(r), bottom(b) {}
    constexpr std::int32_t Width() const { return right - left; }
    constexpr std::int32_t Height() const { return bottom - top; }
    constexpr bool IsRectEmpty() const { return right <= left || bottom <= top; }
    constexpr bool operator==(const CRect&) const = default;
    void SetRect(std::int32_t l, std::int32_t t, std::int32_t r, std::int32_t b)
    {
        left = l; top = t; right = r; bottom = b;
    }
    // Grows to cover rc as well; an empty rectangle adds nothing.
    void Unite(const CRect& rc)
    {
        if (rc.IsRectEmpty())
            return;
        if (IsRectEmpty()) {
            *this = rc;
            return;
        }
        left = left < rc.left ? left : rc.left;
        top = top < rc.top ? top : rc.top;
        right = right > rc.right ? right : rc.right;
        bottom = bottom > rc.bottom ? bottom : rc.bottom;
    }
};

// Virtual-key codes the game and the shell use.
constexpr UINT VK_BACK = 0x08;
constexpr UINT VK_SPACE = 0x20;
constexpr UINT VK_END = 0x23;
constexpr UINT VK_HOME = 0x24;
constexpr UINT VK_LEFT = 0x25;
constexpr UINT VK_UP = 0x26;
constexpr UINT VK_RIGHT = 0x27;
constexpr UINT VK_DOWN = 0x28;
constexpr UINT VK_INSERT = 0x2D;
constexpr UINT VK_DELETE = 0x2E;
constexpr UINT VK_F1 = 0x70;
