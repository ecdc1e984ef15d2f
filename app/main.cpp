// Slabix: lay the patio with the twelve stones, as cheaply as you can.
#include "app/SlabixApp.h"
#include "platform/Sound.h"

#include <QApplication>

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
