// Slabix: lay the patio with the twelve stones, as cheaply as you can.
#include "app/SlabixApp.h"
#include "app/ViewWidget.h"
#include "platform/Sound.h"

#include <QApplication>
#include <QAudioDevice>
#include <QMediaDevices>
#include <QTimer>

#include <clocale>
#include <memory>

namespace {

QtMessageHandler g_pfnPreviousHandler = nullptr;

// Whether the machine has anywhere to play a sound. Qt's audio complains on
// the terminal when it finds no sound server; that is no news for a player,
// so its warnings are held back while it looks.
bool HaveAudioOutput()
{
    g_pfnPreviousHandler = qInstallMessageHandler(
        [](QtMsgType type, const QMessageLogContext& context, const QString& strMessage) {
            if (type != QtDebugMsg && type != QtInfoMsg && type != QtWarningMsg && g_pfnPreviousHandler)
                g_pfnPreviousHandler(type, context, strMessage);
        });
    const bool bHave = !QMediaDevices::audioOutputs().isEmpty();
    qInstallMessageHandler(g_pfnPreviousHandler);
    return bHave;
}

}  // namespace

int main(int argc, char** argv)
{
    std::setlocale(LC_ALL, "");
    // The toolkit takes its own options out of argv; the window size option
    // decides how the frame is shown, so note the arguments as given.
    QStringList rawArgs;
    for (int i = 0; i < argc; ++i)
        rawArgs << QString::fromLocal8Bit(argv[i]);

    QApplication app(argc, argv);
    CCommandLineInfo cmdInfo;
    cmdInfo.windowSize = CCommandLineInfo::WindowSizeFrom(rawArgs);
    cmdInfo.strFileName = CCommandLineInfo::FileNameFrom(QCoreApplication::arguments());

    CSlabixApp theApp;
    if (!theApp.InitInstance(cmdInfo))
        return 1;

    // For the start-up benchmark: quit once the first screen is shown.
    if (qEnvironmentVariableIntValue("SLABIX_EXIT_AFTER_FIRST_PAINT") == 1) {
        for (QWidget* pWindow : QApplication::topLevelWidgets())
            if (auto* pViewWidget = pWindow->findChild<CViewWidget*>())
                QObject::connect(pViewWidget, &CViewWidget::FirstScreenShown, &app,
                                 [] { QTimer::singleShot(0, qApp, [] { QCoreApplication::exit(0); }); });
    }

    // The cues play through Qt's audio for as long as the game runs. The
    // output is in place before the message loop hands the view its first
    // input, and goes before the application does. Without a sound server
    // there is none, and the game stays silent.
    std::unique_ptr<CQtSoundOutput> pSoundOutput;
    if (HaveAudioOutput())
        pSoundOutput = std::make_unique<CQtSoundOutput>();
    CSoundOutput* pPreviousOutput = SetSoundOutput(pSoundOutput.get());
    const int nResult = app.exec();
    SetSoundOutput(pPreviousOutput);
    pSoundOutput.reset();
    return nResult;
}
