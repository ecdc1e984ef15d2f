// Benchmark entry point: a QApplication on the offscreen platform first, since
// fonts and painters need one.
#include <QApplication>
#include <benchmark/benchmark.h>

#include <clocale>

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    std::setlocale(LC_ALL, "C");
    int nQtArgc = 1;
    QApplication app(nQtArgc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
