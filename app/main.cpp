// Slabix: lay the patio with the twelve stones, as cheaply as you can.
#include "app/SlabixApp.h"
#include "app/ViewWidget.h"
#include "platform/Sound.h"

#include <QApplication>
#include <QTimer>

#include <clocale>
#include <memory>

int main(int argc, char** argv)
{
    std::setlocale(LC_ALL, "");
    // The toolkit takes its own options out of argv; the window size option
    // decides how the frame is shown, so note the arguments as given.
    QStringList rawArgs;
    for (int i = 0; i < argc; ++i)
        rawArgs << QString::fromLocal8Bit(argv[i]);

    QApplication app(argc, argv);
    // A file name is kept as the bytes the shell gave, whatever their encoding.
    QList<QByteArray> args;
    for (int i = 0; i < argc; ++i)
        args << QByteArray(argv[i]);
    CCommandLineInfo cmdInfo;
    cmdInfo.windowSize = CCommandLineInfo::WindowSizeFrom(rawArgs);
    cmdInfo.strFileName = CCommandLineInfo::FileNameFrom(args);

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

    // The cues play on the session's sound server for as long as the game
    // runs, whenever there is one. The output is in place before the message
    // loop hands the view its first input, and goes before the application
    // does.
    auto pSoundOutput = std::make_unique<CServerSoundOutput>();
    CSoundOutput* pPreviousOutput = SetSoundOutput(pSoundOutput.get());
    const int nResult = app.exec();
    SetSoundOutput(pPreviousOutput);
    pSoundOutput.reset();
    return nResult;
}
