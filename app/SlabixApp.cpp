#include "app/SlabixApp.h"

#include "app/SlabixDoc.h"
#include "game/Product.h"
#include "game/SlabixView.h"
#include "platform/MessageBox.h"

#include <QApplication>
#include <QIcon>
#include <QRegularExpression>

void CSlabixApp::InitResources()
{
    Q_INIT_RESOURCE(slabix);
}

QString CCommandLineInfo::FileNameFrom(const QList<QByteArray>& args)
{
    for (qsizetype i = 1; i < args.size(); ++i) {
        if (!args[i].startsWith('-'))
            return CSlabixDoc::FileNameFromBytes(args[i]);
    }
    return QString();
}

std::optional<QSize> CCommandLineInfo::WindowSizeFrom(const QStringList& rawArgs)
{
    static const QRegularExpression reSize(QStringLiteral("^(\\d+)x(\\d+)"));
    for (qsizetype i = 1; i + 1 < rawArgs.size(); ++i) {
        if (rawArgs[i] != QLatin1String("-qwindowgeometry") && rawArgs[i] != QLatin1String("--qwindowgeometry"))
            continue;
        const QRegularExpressionMatch match = reSize.match(rawArgs[i + 1]);
        if (!match.hasMatch())
            continue;
        const QSize size(match.captured(1).toInt(), match.captured(2).toInt());
        if (size.width() > 0 && size.height() > 0)
            return size;
    }
    return std::nullopt;
}

CSlabixApp::CSlabixApp(ViewFactory fnMakeView) : m_fnMakeView(std::move(fnMakeView))
{
    if (!m_fnMakeView)
        m_fnMakeView = [] { return std::make_unique<CSlabixView>(); };
}

CSlabixApp::~CSlabixApp() = default;

BOOL CSlabixApp::InitInstance(const CCommandLineInfo& cmdInfo)
{
    InitResources();
    // Per-user settings live under these names; no recent-file list is kept,
    // so there is nothing to load from them.
    QCoreApplication::setOrganizationName(QStringLiteral("Local AppWizard-Generated Applications"));
    QCoreApplication::setApplicationName(QStringLiteral(SLABIX_NAME));
    QGuiApplication::setDesktopFileName(QStringLiteral(SLABIX_APP_ID));
    QGuiApplication::setWindowIcon(QIcon(QStringLiteral(SLABIX_ICON)));

    // Document, frame and view; constructing the view sets up the first game.
    auto pDoc = std::make_unique<CSlabixDoc>();
    std::unique_ptr<CView> pView = m_fnMakeView();
    if (!pView)
        return FALSE;
    CSlabixDoc* pDocument = pDoc.get();
    m_pMainFrame = std::make_unique<CMainFrame>(std::move(pDoc), std::move(pView));

    if (!cmdInfo.strFileName.isEmpty()) {
        const QString strError = pDocument->OnOpenDocument(cmdInfo.strFileName);
        if (!strError.isEmpty()) {
            AfxMessageBox(strError);
            m_pMainFrame.reset();
            return FALSE;
        }
    }

    if (cmdInfo.windowSize)
        m_pMainFrame->ShowSized(*cmdInfo.windowSize);
    else
        m_pMainFrame->ShowMaximised();
    return TRUE;
}
