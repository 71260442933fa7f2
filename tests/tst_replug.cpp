// The adapter pulled and plugged back in while the window is open. COM1 is
// mapped to a by-id style name, a symlink to the pseudo-terminal; the new
// pseudo-terminal gets a new name and the symlink follows it, as udev does.
#include "link/qtserialport.h"
#include "support/expectedlines.h"
#include "support/modemshim.h"
#include "support/ptyfixture.h"
#include "ui/mainwindow.h"
#include "ui/statusbar.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <memory>
#include <vector>

#include <sys/resource.h>

namespace {

qint64 cpuMs()
{
    rusage usage {};
    getrusage(RUSAGE_SELF, &usage);
    return qint64(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1000
           + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1000;
}

} // namespace

class tst_Replug : public QObject
{
    Q_OBJECT

private slots:
    void backWithinTwoSecondsAndChecksAgain();
};

void tst_Replug::backWithinTwoSecondsAndChecksAgain()
{
    if (!ModemShim::loaded())
        QFAIL("libmodemshim.so is not preloaded: the link test needs DSR and CTS on the pseudo-terminal");
    TempStore store;
    PtyFixture line(*store);
    QTemporaryDir byId;
    const QString stable = byId.filePath(QStringLiteral("usb-FTDI_FT232R_USB_UART_A10K3XYZ-if00-port0"));
    const auto plugAs = [&] {
        if (!line.plug())
            return false;
        line.setScenario(Scenario());
        QFile::remove(stable);
        // The mapping names the stable path, not the pseudo-terminal.
        store->save({QStringLiteral("PORTS"), QStringLiteral("COM1"), stable});
        return QFile::link(line.devicePath(), stable);
    };
    QVERIFY2(plugAs(), qPrintable(line.errorString()));

    SteadyClock clock;
    QtSerialPort port;
    MainWindow window(port, *store, clock);
    auto *bar = window.findChild<StatusBar *>(QStringLiteral("StatusBar1"));
    auto *log = window.findChild<QPlainTextEdit *>(QStringLiteral("txtError"));
    auto *linkTest = window.findChild<QPushButton *>(QStringLiteral("cmdStartTest"));
    QVERIFY(port.isOpen());
    QVERIFY(PtyFixture::waitFor([&] { return bar->panelText(1) == QLatin1String("COM1:4800,n,8,1"); }, 2000));

    const QString before = line.devicePath();
    line.unplug();
    QFile::remove(stable);
    QVERIFY(PtyFixture::waitFor([&] { return bar->panelText(1) == QLatin1String("COM??"); }, 2000));

    // While it is out, the ticks try it quietly and spend next to nothing.
    const qint64 cpuBefore = cpuMs();
    QElapsedTimer absent;
    absent.start();
    PtyFixture::waitFor([] { return false; }, 2500);
    const qint64 cpu = cpuMs() - cpuBefore;
    qInfo() << "CPU while absent:" << cpu << "ms in" << absent.elapsed() << "ms";
    QVERIFY2(cpu * 20 < absent.elapsed(), qPrintable(QStringLiteral("%1 ms CPU").arg(cpu)));
    QVERIFY(log->toPlainText().isEmpty());
    QCOMPARE(bar->panelText(2), QStringLiteral("Порт не открыт!"));

    // Back in, under a new name (the old one is taken meanwhile); the stable name follows it.
    // Other pseudo-terminals (other tests running at the same time) may free and
    // take numbers meanwhile: the old name is held until the new one differs.
    TempStore elsewhere;
    std::vector<std::unique_ptr<PtyFixture>> holders;
    for (int attempt = 0; attempt < 4; ++attempt) {
        holders.push_back(std::make_unique<PtyFixture>(*elsewhere));
        QVERIFY2(holders.back()->plug(), qPrintable(holders.back()->errorString()));
        QVERIFY2(plugAs(), qPrintable(line.errorString()));
        if (line.devicePath() != before)
            break;
        line.unplug();
    }
    QVERIFY(line.devicePath() != before);
    qInfo() << "device before and after:" << before << line.devicePath();
    QElapsedTimer back;
    back.start();
    QVERIFY(PtyFixture::waitFor([&] { return bar->panelText(1) == QLatin1String("COM1:4800,n,8,1"); }, 2000));
    qInfo() << "status bar shows the port again after" << back.elapsed() << "ms";
    QCOMPARE(bar->panelText(2), QString());
    QVERIFY(log->toPlainText().isEmpty());

    linkTest->click();
    QCOMPARE(log->toPlainText().split(QLatin1Char('\n'), Qt::SkipEmptyParts), kLinkGood);
    QCOMPARE(line.written(), QByteArray("#0002\r\n"));
}

int main(int argc, char **argv)
{
#ifdef MODEMSHIM_PATH
    ModemShim::preload(MODEMSHIM_PATH, argv);
#endif
    QApplication app(argc, argv);
    tst_Replug test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "tst_replug.moc"
