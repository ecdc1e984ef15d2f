// The application object: the start-up sequence that builds the document, the
// main frame and the game view, and shows the frame.
#pragma once

#include "app/MainFrame.h"
#include "platform/View.h"
#include "platform/WinTypes.h"

#include <QSize>
#include <QStringList>
#include <functional>
#include <memory>
#include <optional>

// What the command line asks for.
struct CCommandLineInfo {
    QString strFileName;               // a document to open; empty for a new one
    std::optional<QSize> windowSize;   // -qwindowgeometry WxH: a normal window that size

    // strFileName from the arguments left once the toolkit took its own, as
    // the bytes the shell gave; the first one that is no option names the
    // file.
    static QString FileNameFrom(const QList<QByteArray>& args);
    // windowSize from the arguments as the process got them.
    static std::optional<QSize> WindowSizeFrom(const QStringList& rawArgs);
};

class CSlabixApp {
public:
    using ViewFactory = std::function<std::unique_ptr<CView>()>;

    // With no factory the view is the game's own.
    explicit CSlabixApp(ViewFactory fnMakeView = {});
    CSlabixApp(const CSlabixApp&) = delete;
    CSlabixApp& operator=(const CSlabixApp&) = delete;
    ~CSlabixApp();

    // Settings names, document, frame and view, the command line, the frame
    // shown. FALSE when start-up fails and the process should end.
    BOOL InitInstance(const CCommandLineInfo& cmdInfo);

    // Makes the compiled-in resources (icon, sounds) available.
    static void InitResources();

private:
    ViewFactory m_fnMakeView;
    std::unique_ptr<CMainFrame> m_pMainFrame;
};
