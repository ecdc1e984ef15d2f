// Slabix: lay the patio with the twelve stones, as cheaply as you can.
#include "app/SlabixApp.h"

#include <QApplication>

#include <clocale>

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
    return app.exec();
}
