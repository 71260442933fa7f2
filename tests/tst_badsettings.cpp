// A settings file that someone has edited by hand, with garbage under every
// key: the port opens with defaults where it must, the checks run, and saving
// the block number changes that one line and not a byte more.
#include "link/openport.h"
#include "testsupport.h"

#include <QFile>
#include <QtTest>

namespace {

QByteArray fileBytes(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    QCOMPARE(file.write(bytes), bytes.size());
}

// A hand-kept file around the three values, with things a technician might
// leave in it: a comment, blank lines, a section of another program, keys in
// no particular order, values in quotes.
QByteArray settingsFile(const QByteArray &com, const QByteArray &baud, const QByteArray &block,
                        const QByteArray &eol = "\n")
{
    QByteArray text = "; written by hand on site" + eol
                      + "[COMPORT]" + eol
                      + "BAUD=" + baud + eol
                      + "COM=" + com + eol
                      + "Comment = \"port of the cabinet\" ; keep" + eol
                      + eol
                      + "[zOther]" + eol
                      + "b=1,2" + eol
                      + "a=  x  " + eol
                      + "[NBLOCK]" + eol
                      + "BLOCK=" + block + eol
                      + eol
                      + "[Notes]" + eol
                      + "text=\xcf\xf0\xe8\xe2\xe5\xf2" + eol;   // cp1251, not UTF-8
    return text;
}

} // namespace

class TestBadSettings : public QObject
{
    Q_OBJECT

private slots:
    void garbageFallsBackAndOnlyBlockLineChanges_data();
    void garbageFallsBackAndOnlyBlockLineChanges();
    void missingBlockIsAddedWithoutTouchingTheRest_data();
    void missingBlockIsAddedWithoutTouchingTheRest();
    void savedTextReadsBackAndKeepsOneLine_data();
    void savedTextReadsBackAndKeepsOneLine();
    void unreadableFileIsNeverReplaced();
};

void TestBadSettings::garbageFallsBackAndOnlyBlockLineChanges_data()
{
    QTest::addColumn<QByteArray>("com");
    QTest::addColumn<QByteArray>("baud");
    QTest::addColumn<QByteArray>("block");
    QTest::addColumn<QByteArray>("eol");
    QTest::addColumn<int>("comPort");
    QTest::addColumn<int>("rate");
    QTest::addColumn<int>("blockNo");

    QTest::newRow("empty") << QByteArray() << QByteArray() << QByteArray() << QByteArray("\n") << 2 << 4800 << 1;
    QTest::newRow("letters") << QByteArray("COM3") << QByteArray("fast") << QByteArray("five") << QByteArray("\n")
                             << 2 << 4800 << 1;
    QTest::newRow("number with tail") << QByteArray("2x") << QByteArray("9600bd") << QByteArray("5!")
                                      << QByteArray("\n") << 2 << 4800 << 1;
    QTest::newRow("beyond every width") << QByteArray("99999999999") << QByteArray("99999999999")
                                        << QByteArray("99999999999") << QByteArray("\n") << 2 << 4800 << 1;
    QTest::newRow("just beyond") << QByteArray("32768") << QByteArray("2147483648") << QByteArray("65537")
                                 << QByteArray("\n") << 2 << 4800 << 1;
    QTest::newRow("negative") << QByteArray("-2") << QByteArray("-9600") << QByteArray("-3") << QByteArray("\n")
                              << 2 << 4800 << 1;
    QTest::newRow("zero") << QByteArray("0") << QByteArray("0") << QByteArray("0") << QByteArray("\n") << 2 << 4800
                          << 1;
    QTest::newRow("port the port refuses") << QByteArray("300") << QByteArray("19200") << QByteArray("33")
                                           << QByteArray("\n") << 2 << 19200 << 1;
    QTest::newRow("not utf-8") << QByteArray("\xff\xfe") << QByteArray("\xc0\x80") << QByteArray("\xe9\xed")
                               << QByteArray("\n") << 2 << 4800 << 1;
    QTest::newRow("lists") << QByteArray("1,2") << QByteArray("9600,n,8,1") << QByteArray("3, 4") << QByteArray("\n")
                           << 2 << 4800 << 1;
    QTest::newRow("blanks around") << QByteArray("  5 ") << QByteArray("\t115200 ") << QByteArray(" 32")
                                   << QByteArray("\n") << 5 << 115200 << 32;
    QTest::newRow("quoted numbers") << QByteArray("\"7\"") << QByteArray("\"57600\"") << QByteArray("\"12\"")
                                    << QByteArray("\n") << 7 << 57600 << 12;
    QTest::newRow("blanks inside") << QByteArray("1 2") << QByteArray("96 00") << QByteArray("1 0")
                                   << QByteArray("\n") << 2 << 4800 << 1;
    QTest::newRow("good values, CR LF file") << QByteArray("4") << QByteArray("38400") << QByteArray("9")
                                             << QByteArray("\r\n") << 4 << 38400 << 9;
    QTest::newRow("garbage, CR LF file") << QByteArray("x\x01y") << QByteArray("--") << QByteArray("+")
                                         << QByteArray("\r\n") << 2 << 4800 << 1;
}

void TestBadSettings::garbageFallsBackAndOnlyBlockLineChanges()
{
    QFETCH(QByteArray, com);
    QFETCH(QByteArray, baud);
    QFETCH(QByteArray, block);
    QFETCH(QByteArray, eol);
    QFETCH(int, comPort);
    QFETCH(int, rate);
    QFETCH(int, blockNo);

    CheckRig rig;
    TempStore &store = rig.store;
    SimulatedPort &port = rig.port;
    CheckState &state = rig.state;
    const QByteArray before = settingsFile(com, baud, block, eol);
    writeFile(store.path(), before);

    rig.openPort();
    QCOMPARE(int(state.comPort), comPort);
    QCOMPARE(int(state.baudRate), rate);
    QCOMPARE(int(state.blockNumber), blockNo);
    QVERIFY(port.isOpen());
    QCOMPARE(port.device(), deviceForComPort(*store, qint16(comPort)));
    QCOMPARE(port.baudRate(), rate);
    QCOMPARE(fileBytes(store.path()), before);   // reading never writes

    rig.panel.listIndex = 4;
    rig.tests.blockCheck();
    QCOMPARE(rig.panel.lines, QStringList({"5: Запрос = [#0502]", "5: Принято = [@05T+20.5]",
                                       "5: Тестирование прошло успешно, блок отвечает"}));

    // Only the value of BLOCK changed, blanks around it kept; every other byte
    // is as the technician left it.
    const QByteArray core = block.trimmed();
    const qsizetype lead = core.isEmpty() ? block.size() : block.indexOf(core);
    const QByteArray newBlock = block.left(lead) + "5" + block.mid(lead + core.size());
    QCOMPARE(fileBytes(store.path()), settingsFile(com, baud, newBlock, eol));

    // The next start reads the new block and the same port settings as before.
    const SavedPortSettings again = readSavedPortSettings(*store);
    QCOMPARE(int(again.comPort), comPort);
    QCOMPARE(int(again.baudRate), rate);
    QCOMPARE(int(again.blockNumber), 5);
}

void TestBadSettings::missingBlockIsAddedWithoutTouchingTheRest_data()
{
    QTest::addColumn<QByteArray>("before");
    QTest::addColumn<QByteArray>("after");

#ifdef Q_OS_WIN
    // A new file has the system's line ends.
    QTest::newRow("no file") << QByteArray() << QByteArray("[NBLOCK]\r\nBLOCK=5\r\n");
#else
    QTest::newRow("no file") << QByteArray() << QByteArray("[NBLOCK]\nBLOCK=5\n");
#endif
    QTest::newRow("no section") << QByteArray("[COMPORT]\nCOM=x\n")
                                << QByteArray("[COMPORT]\nCOM=x\n\n[NBLOCK]\nBLOCK=5\n");
    QTest::newRow("no line end at the end") << QByteArray("[COMPORT]\r\nCOM=x")
                                            << QByteArray("[COMPORT]\r\nCOM=x\r\n\r\n[NBLOCK]\r\nBLOCK=5\r\n");
    QTest::newRow("section without the key") << QByteArray("[NBLOCK]\nOLD=1\n\n[COMPORT]\nCOM=x\n")
                                             << QByteArray("[NBLOCK]\nOLD=1\nBLOCK=5\n\n[COMPORT]\nCOM=x\n");
    QTest::newRow("key only in a comment") << QByteArray("[NBLOCK]\n;BLOCK=3")
                                           << QByteArray("[NBLOCK]\n;BLOCK=3\nBLOCK=5\n");
    QTest::newRow("other case, blanks") << QByteArray("[nblock]\n  block = 7 ; last one\n")
                                        << QByteArray("[nblock]\n  block = 5 ; last one\n");
    QTest::newRow("key twice") << QByteArray("[NBLOCK]\nBLOCK=1\nBLOCK=2\n")
                               << QByteArray("[NBLOCK]\nBLOCK=5\nBLOCK=2\n");
}

void TestBadSettings::missingBlockIsAddedWithoutTouchingTheRest()
{
    QFETCH(QByteArray, before);
    QFETCH(QByteArray, after);

    CheckRig rig;
    TempStore &store = rig.store;
    if (!before.isEmpty())
        writeFile(store.path(), before);
    rig.openPort();
    rig.panel.listIndex = 4;
    rig.tests.blockCheck();
    QCOMPARE(rig.panel.lines.size(), 3);
    QCOMPARE(fileBytes(store.path()), after);
    QCOMPARE(store->read(kApp, "NBLOCK", "BLOCK", "none"), QString("5"));
}

void TestBadSettings::savedTextReadsBackAndKeepsOneLine_data()
{
    QTest::addColumn<QString>("text");

    QTest::newRow("number") << "115200";
    QTest::newRow("empty") << "";
    QTest::newRow("blanks around") << "  6 ";
    QTest::newRow("line breaks") << "1\r\n[NBLOCK]\nBLOCK=9";
    QTest::newRow("comment sign") << "a;b";
    QTest::newRow("quotes and backslashes") << "\"C:\\dev\\\"";
    QTest::newRow("control bytes") << QString("a") + QChar(0) + QChar(7) + QChar(0x7f) + "b";
    QTest::newRow("cyrillic") << "Блок 5";
    QTest::newRow("list") << "1, 2";
}

void TestBadSettings::savedTextReadsBackAndKeepsOneLine()
{
    QFETCH(QString, text);

    TempStore store;
    const QByteArray before("[COMPORT]\nCOM=3\n[NBLOCK]\nBLOCK=1\n[Z]\nz=\xff\n");
    writeFile(store.path(), before);
    store->save(kApp, "NBLOCK", "BLOCK", text);
    QCOMPARE(store->read(kApp, "NBLOCK", "BLOCK", "none"), text);
    QCOMPARE(store->read(kApp, "COMPORT", "COM", "none"), QString("3"));

    // Whatever the text, the value stays on its one line: no section or key is made of it.
    QList<QByteArray> lines = fileBytes(store.path()).split('\n');
    QList<QByteArray> expected = before.split('\n');
    QCOMPARE(lines.size(), expected.size());
    QVERIFY(lines.at(3).startsWith("BLOCK="));
    lines.removeAt(3);
    expected.removeAt(3);
    QCOMPARE(lines, expected);
}

void TestBadSettings::unreadableFileIsNeverReplaced()
{
    TempStore store;
    const QByteArray before("[COMPORT]\nCOM=3\n");
    writeFile(store.path(), before);
    QFile::setPermissions(store.path(), QFileDevice::Permissions());
    QFile probe(store.path());
    if (probe.open(QIODevice::ReadOnly))
        QSKIP("running with rights that read any file (root): nothing to check");

    store->save(kApp, "NBLOCK", "BLOCK", "5");
    QFile::setPermissions(store.path(), QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    QCOMPARE(fileBytes(store.path()), before);
}

QTEST_GUILESS_MAIN(TestBadSettings)
#include "tst_badsettings.moc"
