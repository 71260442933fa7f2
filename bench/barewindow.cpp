// The yardstick for linkprobe --startup-report: an empty Qt window of the same
// size, shown and reported the same way (first paint, then one more round of
// the event loop). What linkprobe takes beyond this is its own start-up.

#include <QApplication>
#include <QElapsedTimer>
#include <QEvent>
#include <QFile>
#include <QTextStream>
#include <QTimer>
#include <QWidget>

namespace {

double residentMegabytes()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly | QIODevice::Text))
        return -1;
    for (QByteArray line = status.readLine(); !line.isEmpty(); line = status.readLine()) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').first().toDouble() / 1024;
    }
    return -1;
}

class StartupReport : public QObject
{
public:
    StartupReport(QWidget &window, const QElapsedTimer &sinceStart) : m_sinceStart(sinceStart)
    {
        window.installEventFilter(this);
    }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::Paint) {
            watched->removeEventFilter(this);
            QTimer::singleShot(0, this, [this] {
                const double rss = residentMegabytes();
                QTextStream(stderr) << "barewindow: window shown in " << m_sinceStart.elapsed()
                                    << " ms, resident memory " << QString::number(rss, 'f', 1) << " MB\n";
                QCoreApplication::exit(0);
            });
        }
        return false;
    }

private:
    const QElapsedTimer &m_sinceStart;
};

} // namespace

int main(int argc, char *argv[])
{
    QElapsedTimer sinceStart;
    sinceStart.start();
    QApplication app(argc, argv);
    QWidget window;
    window.resize(486, 392);   // about linkprobe's window at 96 dpi
    StartupReport report(window, sinceStart);
    window.show();
    return app.exec();
}
