// A bare Qt main window with a menu bar like the game's and a white client
// area: what any program of this kind pays to put its first screen up. With
// SLABIX_EXIT_AFTER_FIRST_PAINT=1 it quits as soon as that screen is painted.
#include <QAction>
#include <QApplication>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QPainter>
#include <QTimer>
#include <QWidget>

namespace {

class CBareClient : public QWidget {
protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        painter.fillRect(rect(), Qt::white);
        if (!m_bPainted && qEnvironmentVariableIntValue("SLABIX_EXIT_AFTER_FIRST_PAINT") == 1)
            QTimer::singleShot(0, qApp, [] { QCoreApplication::exit(0); });
        m_bPainted = true;
    }

private:
    bool m_bPainted = false;
};

}  // namespace

int main(int argc, char** argv)
{
    // Like the game: a window of the size given with -qwindowgeometry, else
    // maximised.
    bool bSized = false;
    for (int i = 1; i < argc; ++i)
        bSized = bSized || QByteArray(argv[i]).endsWith("-qwindowgeometry");
    QApplication app(argc, argv);
    QMainWindow frame;
    frame.setWindowTitle(QStringLiteral("Bare window"));
    QMenu* pFile = frame.menuBar()->addMenu(QStringLiteral("&File"));
    pFile->addAction(QStringLiteral("&Print...\tCtrl+P"));
    pFile->addSeparator();
    pFile->addAction(QStringLiteral("E&xit"), &app, &QCoreApplication::quit);
    frame.menuBar()->addMenu(QStringLiteral("&Help"))->addAction(QStringLiteral("&About..."));
    frame.setCentralWidget(new CBareClient);
    if (bSized)
        frame.show();
    else
        frame.showMaximized();
    return app.exec();
}
