// Drawing objects and the device context.
//
// A device context draws with the old desktop semantics the game was designed
// around: a rectangle covers left..right-1, a line covers its start point but
// not its end, a 1-pixel pen outlines inside the rectangle. Two targets exist:
// CFrameDC writes straight into the client area's framebuffer (a 32-bit QImage)
// and reads pixels back from it; CPainterDC draws the same calls through a
// QPainter, for the printer and print preview.
#pragma once

#include "platform/WinTypes.h"

#include <QFont>
#include <QFontMetrics>
#include <QPoint>
#include <QRect>
#include <QImage>
#include <functional>
#include <memory>
#include <vector>

class QPainter;
class QPaintDevice;

// Background modes and DrawText format flags.
constexpr int TRANSPARENT = 1;
constexpr int OPAQUE = 2;
constexpr UINT DT_TOP = 0x00;
constexpr UINT DT_LEFT = 0x00;
constexpr UINT DT_CENTER = 0x01;
constexpr UINT DT_VCENTER = 0x04;
constexpr UINT DT_WORDBREAK = 0x10;
constexpr UINT DT_SINGLELINE = 0x20;
constexpr int PS_SOLID = 0;

// Base of the drawing objects: empty (no handle) until made, handle released
// by DeleteObject or by the owner's destruction.
class CGdiObject {
public:
    CGdiObject() = default;
    CGdiObject(const CGdiObject&) = delete;
    CGdiObject& operator=(const CGdiObject&) = delete;
    virtual ~CGdiObject() = default;

    std::uint32_t GetSafeHandle() const { return m_hObject; }
    BOOL DeleteObject();

protected:
    BOOL Attach();  // gives the object a fresh, never reused handle
    std::uint32_t m_hObject = 0;
};

class CBrush : public CGdiObject {
public:
    ~CBrush() override { DeleteObject(); }
    BOOL CreateSolidBrush(COLORREF cr);
    COLORREF GetColor() const { return m_cr; }

private:
    COLORREF m_cr = 0;
};

class CPen : public CGdiObject {
public:
    ~CPen() override { DeleteObject(); }
    // Solid pens only; every pen the game makes is one pixel wide.
    BOOL CreatePen(int nPenStyle, int nWidth, COLORREF cr);
    COLORREF GetColor() const { return m_cr; }

private:
    COLORREF m_cr = 0;
};

// A font as one device draws it: the Qt font, and the factor by which the
// painter scales its text. The framebuffer draws whole pixel sizes at their
// own size, as the screen did. Printers and PDF files take any size, which Qt
// fonts do not: there a large whole size is drawn scaled, so that the cell
// height comes out exactly as asked.
struct CDeviceFont {
    QFont font;
    qreal scale = 1.0;
    bool bScaled = false;
};

// A font by face, character-cell height in device pixels and weight. Every
// other parameter is fixed: no width, escapement or orientation, upright, no
// underline or strike-out, ANSI set, device precision, proof quality.
class CFont : public CGdiObject {
public:
    ~CFont() override { DeleteObject(); }
    BOOL CreateFont(int nHeight, int nWeight, const char* lpszFacename);
    const CString& GetFaceName() const { return m_strFace; }
    int GetHeight() const { return m_nHeight; }
    int GetWeight() const { return m_nWeight; }

    // The font for a device. On the framebuffer: the largest pixel size whose
    // ascent plus descent does not exceed the cell height. On printers and
    // PDF files: ascent plus descent exactly the cell height.
    CDeviceFont Resolve(QPaintDevice* pDevice) const;

private:
    CString m_strFace;
    int m_nHeight = 0;
    int m_nWeight = 400;
    mutable CDeviceFont m_resolved;
    mutable int m_nResolvedDpi = -1;
    mutable bool m_bResolvedScaled = false;
};

class CDC {
public:
    CDC();
    CDC(const CDC&) = delete;
    CDC& operator=(const CDC&) = delete;
    virtual ~CDC();

    // Each returns the object selected before (nullptr: the stock object).
    // nullptr selects the stock object again; an object not yet made cannot be
    // selected (the call returns nullptr and changes nothing).
    CPen* SelectObject(CPen* pPen);
    CBrush* SelectObject(CBrush* pBrush);
    CFont* SelectObject(CFont* pFont);
    int SetBkMode(int nMode);
    COLORREF SetTextColor(COLORREF cr);

    void FillRect(const CRect& rc, CBrush* pBrush);
    BOOL Rectangle(const CRect& rc);
    BOOL Rectangle(int l, int t, int r, int b) { return Rectangle(CRect(l, t, r, b)); }
    CPoint MoveTo(int x, int y);
    // Horizontal and vertical lines only: the start is covered, the end is not.
    BOOL LineTo(int x, int y);
    COLORREF SetPixel(int x, int y, COLORREF cr);
    // The colour of a pixel as drawn, or CLR_INVALID off the target.
    virtual COLORREF GetPixel(int x, int y) const { return CLR_INVALID; }
    // One line of text with its top-left corner at (x, y), not clipped.
    BOOL TextOut(int x, int y, const CString& str);
    // Formatted text in a rectangle (DT_ flags above), cut off at its edges.
    // Returns the height of the text drawn.
    int DrawText(const CString& str, const CRect& rc, UINT nFormat);

    virtual QPaintDevice* Device() const = 0;

protected:
    // Target primitives. FillSolid fills exactly the pixels of rc (already
    // normalised, not yet clipped); PutPixel sets one pixel if it is on the target.
    virtual void FillSolid(const CRect& rc, COLORREF cr) = 0;
    virtual void PutPixel(int x, int y, COLORREF cr) = 0;
    // Draws text lines through a painter, clipped to pClip when given.
    // rcInk bounds every pixel the text may touch.
    struct TextRun {
        QString text;
        QPoint baseline;
        QRect box;
    };
    void PaintTextRuns(const CDeviceFont& font, const std::vector<TextRun>& runs, const CRect* pClip,
                       const CRect& rcInk);
    virtual void DrawTextRuns(const std::function<void(QPainter&)>& draw, const CRect* pClip,
                              const CRect& rcInk) = 0;

    COLORREF PenColor() const { return m_pPen ? m_pPen->GetColor() : 0x000000; }
    COLORREF BrushColor() const { return m_pBrush ? m_pBrush->GetColor() : 0xFFFFFF; }
    // The selected font (or the stock font) resolved for this target.
    CDeviceFont CurrentFont() const;

    CPen* m_pPen = nullptr;      // nullptr: the stock black pen
    CBrush* m_pBrush = nullptr;  // nullptr: the stock white brush
    CFont* m_pFont = nullptr;    // nullptr: the stock system font
    int m_nBkMode = OPAQUE;
    COLORREF m_crText = 0x000000;
    COLORREF m_crBk = 0xFFFFFF;
    CPoint m_ptCurrent;
};

// Draws into a 32-bit framebuffer (QImage::Format_RGB32) and reads it back.
// Every pixel it changes is added to DirtyRect().
class CFrameDC : public CDC {
public:
    explicit CFrameDC(QImage& image);
    ~CFrameDC() override;
    COLORREF GetPixel(int x, int y) const override;
    QPaintDevice* Device() const override;
    const CRect& DirtyRect() const { return m_rcDirty; }

protected:
    void FillSolid(const CRect& rc, COLORREF cr) override;
    void PutPixel(int x, int y, COLORREF cr) override;
    void DrawTextRuns(const std::function<void(QPainter&)>& draw, const CRect* pClip,
                      const CRect& rcInk) override;

private:
    void AddDirty(const CRect& rc);
    // Clips rc to the image; false when nothing is left.
    bool ClipToImage(CRect& rc) const;
    QImage& m_image;
    CRect m_rcDirty;
};

// Draws through a QPainter: the printer, the print preview, a test image.
class CPainterDC : public CDC {
public:
    explicit CPainterDC(QPainter& painter);
    QPaintDevice* Device() const override;

protected:
    void FillSolid(const CRect& rc, COLORREF cr) override;
    void PutPixel(int x, int y, COLORREF cr) override;
    void DrawTextRuns(const std::function<void(QPainter&)>& draw, const CRect* pClip,
                      const CRect& rcInk) override;

private:
    QPainter& m_painter;
};

// Colour conversion between COLORREF and the framebuffer's 0xAARRGGBB.
constexpr std::uint32_t ToQRgb(COLORREF cr)
{
    return 0xFF000000u | ((cr & 0xFFu) << 16) | (cr & 0xFF00u) | ((cr >> 16) & 0xFFu);
}
constexpr COLORREF FromQRgb(std::uint32_t rgb)
{
    return ((rgb >> 16) & 0xFFu) | (rgb & 0xFF00u) | ((rgb & 0xFFu) << 16);
}
