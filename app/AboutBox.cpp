#include "app/AboutBox.h"

#include "game/Product.h"

#include <algorithm>

#include <QFontMetrics>
#include <QIcon>
#include <QLabel>
#include <QPushButton>

namespace {

// Converts dialog units to pixels: a horizontal unit is a quarter of the
// font's average character width, a vertical one an eighth of its height.
class CDialogUnits {
public:
    explicit CDialogUnits(const QFont& font)
    {
        const QFontMetrics fm(font);
        const int nAlphabet = fm.horizontalAdvance(
            QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
        m_nBaseX = std::max(1, (nAlphabet / 26 + 1) / 2);
        m_nBaseY = std::max(1, fm.height());
    }
    int BaseX() const { return m_nBaseX; }
    int X(int n) const { return n * m_nBaseX / 4; }
    int Y(int n) const { return n * m_nBaseY / 8; }
    QRect Rect(int x, int y, int cx, int cy) const { return QRect(X(x), Y(y), X(cx), Y(cy)); }

private:
    int m_nBaseX;
    int m_nBaseY;
};

QLabel* MakeText(const QString& strText, QWidget* pParent)
{
    auto* pLabel = new QLabel(pParent);
    pLabel->setTextFormat(Qt::PlainText);  // no mnemonic or markup processing
    pLabel->setText(strText);
    return pLabel;
}

}  // namespace

CAboutBox::CAboutBox(QWidget* pParent) : QDialog(pParent)
{
    setWindowTitle(QStringLiteral("About " SLABIX_NAME));
    setModal(true);
    // The small face of old dialogs: an 11-pixel sans-serif, a pixel or two
    // smaller where the face is wide, so that a unit keeps its classic size.
    QFont font = this->font();
    font.setStyleHint(QFont::SansSerif);
    font.setPixelSize(11);
    while (font.pixelSize() > 9 && CDialogUnits(font).BaseX() > 6)
        font.setPixelSize(font.pixelSize() - 1);
    setFont(font);
    const CDialogUnits du(font);

    auto* pIcon = new QLabel(this);
    const int nIcon = 32;
    pIcon->setPixmap(QIcon(QStringLiteral(SLABIX_ICON)).pixmap(nIcon, nIcon));
    pIcon->setGeometry(du.X(11), du.Y(17), nIcon, nIcon);
    pIcon->setAlignment(Qt::AlignLeft | Qt::AlignTop);

    QLabel* pVersion = MakeText(QStringLiteral(SLABIX_NAME " " SLABIX_VERSION), this);
    pVersion->setGeometry(du.Rect(40, 10, 119, 8));
    QLabel* pNotice = MakeText(QStringLiteral(SLABIX_RIGHTS), this);
    pNotice->setGeometry(du.Rect(40, 25, 119, 8));

    auto* pOk = new QPushButton(QStringLiteral("OK"), this);
    pOk->setGeometry(du.Rect(178, 7, 50, 14));
    pOk->setDefault(true);
    connect(pOk, &QPushButton::clicked, this, &QDialog::accept);

    // Labels at least one text line high, whatever the unit rounding.
    for (QLabel* pLabel : {pVersion, pNotice}) {
        QRect rc = pLabel->geometry();
        rc.setHeight(std::max(rc.height(), QFontMetrics(font).height()));
        pLabel->setGeometry(rc);
    }
    setFixedSize(du.X(235), du.Y(55));
}
