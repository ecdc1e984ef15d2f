// Slabix: lay the patio with the twelve stones, as cheaply as you can.
#include "app/SlabixApp.h"
#include "platform/Sound.h"

#include <QApplication>
#include <QAudioDevice>
#include <QMediaDevices>

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
