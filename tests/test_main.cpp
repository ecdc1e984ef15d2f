// Test entry point: a QApplication on the offscreen platform, so fonts,
// widgets and the printing path work without a display, and no printer or
// sound server of the machine's in reach.
#include "tests/Isolation.h"

#include <QApplication>
#include <gtest/gtest.h>

#include <clocale>

int main(int argc, char** argv)
{
    IsolateFromTheMachine();
    std::setlocale(LC_ALL, "C");
    testing::InitGoogleTest(&argc, argv);
    QApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
