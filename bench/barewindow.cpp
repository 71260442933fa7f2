// The yardstick for linkprobe --startup-report: an empty Qt window of the same
// size, shown and reported the same way (first paint, then one more round of
// the event loop). What linkprobe takes beyond this is its own start-up.

#include "app/startupreport.h"

#include <QApplication>
#include <QWidget>

int main(int argc, char *argv[])
{
    QElapsedTimer sinceStart;
    sinceStart.start();
    QApplication app(argc, argv);
    QWidget window;
    window.resize(486, 392);   // about linkprobe's window at 96 dpi
    StartupReport report(QStringLiteral("barewindow"), window, sinceStart);
    window.show();
    return app.exec();
}
