// A settings file that someone has edited by hand, with garbage under every
// key: the port opens with defaults where it must, the checks run, and saving
// the block number changes that value and no other.
#include "link/settings.h"
#include "testsupport.h"

#include <QDir>
#include <QFile>
#include <QSettings>
#include <QTest>

#ifdef Q_OS_UNIX
#include <unistd.h>
#endif

namespace {

QByteArray fileBytes(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Every key of the file with its value, as the store reads them.
QMap<QString, QString> contents(const QString &path)
{
    QSettings settings(path, QSettings::IniFormat);
    QMap<QString, QString> values;
    for (const QString &key : settings.allKeys())
        values[key] = settings.value(key).toStringList().join(QLatin1Char(','));
    return values;
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
                      + "text=\xd0\x9f\xd1\x80\xd0\xb8\xd0\xb2\xd0\xb5\xd1\x82" + eol;
    return text;
}

} // namespace

class TestBadSettings : public QObject
{
    Q_OBJECT

private slots:
    void garbageFallsBackAndOnlyBlockChanges_data();
    void garbageFallsBackAndOnlyBlockChanges();
    void missingBlockIsAddedWithoutTouchingTheRest_data();
    void missingBlockIsAddedWithoutTouchingTheRest();
    void savedTextReadsBackAndMakesNoOtherKey_data();
    void savedTextReadsBackAndMakesNoOtherKey();
    void unreadableFileIsNeverReplaced();
    void textNotInUtf8IsNeverRewritten();
};

void TestBadSettings::garbageFallsBackAndOnlyBlockChanges_data()
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

void TestBadSettings::garbageFallsBackAndOnlyBlockChanges()
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
    QMap<QString, QString> expected = contents(store.path());
    expected["NBLOCK/BLOCK"] = "5";

    rig.openPort();
    QCOMPARE(int(state.comPort), comPort);
    QCOMPARE(int(state.baudRate), rate);
    QCOMPARE(int(state.blockNumber), blockNo);
    QVERIFY(port.isOpen());
    QCOMPARE(port.device(), Settings::load(*store).deviceFor(qint16(comPort)));
    QCOMPARE(port.baudRate(), rate);
    QCOMPARE(fileBytes(store.path()), before);   // reading never writes

    rig.tests.blockCheck(5, ReplyEnd::FullWait);
    QCOMPARE(rig.panel.lines, QStringList({"5: Запрос = [#0502]", "5: Принято = [@05T+20.5]",
                                       "5: Тестирование прошло успешно, блок отвечает"}));

    // Only the value of BLOCK changed; every other key, the program's and
    // anyone else's, reads as the technician left it.
    QCOMPARE(contents(store.path()), expected);

    // The next start reads the new block and the same port settings as before.
    const Settings again = Settings::load(*store);
    QCOMPARE(int(again.comPort), comPort);
    QCOMPARE(int(again.baudRate), rate);
    QCOMPARE(int(again.blockNumber), 5);
}

using Contents = QMap<QString, QString>;

void TestBadSettings::missingBlockIsAddedWithoutTouchingTheRest_data()
{
    QTest::addColumn<QByteArray>("before");
    QTest::addColumn<Contents>("after");

    QTest::newRow("no file") << QByteArray() << Contents{{"NBLOCK/BLOCK", "5"}};
    QTest::newRow("no section") << QByteArray("[COMPORT]\nCOM=x\n")
                                << Contents{{"COMPORT/COM", "x"}, {"NBLOCK/BLOCK", "5"}};
    QTest::newRow("no line end at the end") << QByteArray("[COMPORT]\r\nCOM=x")
                                            << Contents{{"COMPORT/COM", "x"}, {"NBLOCK/BLOCK", "5"}};
    QTest::newRow("section without the key") << QByteArray("[NBLOCK]\nOLD=1\n\n[COMPORT]\nCOM=x\n")
                                             << Contents{{"NBLOCK/OLD", "1"}, {"COMPORT/COM", "x"}, {"NBLOCK/BLOCK", "5"}};
    QTest::newRow("key only in a comment") << QByteArray("[NBLOCK]\n;BLOCK=3") << Contents{{"NBLOCK/BLOCK", "5"}};
    QTest::newRow("key twice") << QByteArray("[NBLOCK]\nBLOCK=1\nBLOCK=2\n") << Contents{{"NBLOCK/BLOCK", "5"}};
#ifndef Q_OS_WIN
    // Names are case-sensitive here (not on Windows): another case is another key, kept.
    QTest::newRow("other case") << QByteArray("[nblock]\n  block = 7 ; last one\n")
                                << Contents{{"nblock/block", "7"}, {"NBLOCK/BLOCK", "5"}};
#endif
}

void TestBadSettings::missingBlockIsAddedWithoutTouchingTheRest()
{
    QFETCH(QByteArray, before);
    QFETCH(Contents, after);

    CheckRig rig;
    TempStore &store = rig.store;
    if (!before.isEmpty())
        writeFile(store.path(), before);
    rig.openPort();
    rig.tests.blockCheck(5, ReplyEnd::FullWait);
    QCOMPARE(rig.panel.lines.size(), 3);
    QCOMPARE(contents(store.path()), after);
    QCOMPARE(readSetting(*store, "NBLOCK", "BLOCK", "none"), QString("5"));
}

void TestBadSettings::savedTextReadsBackAndMakesNoOtherKey_data()
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

void TestBadSettings::savedTextReadsBackAndMakesNoOtherKey()
{
    QFETCH(QString, text);

    TempStore store;
    writeFile(store.path(), "[COMPORT]\nCOM=3\n[NBLOCK]\nBLOCK=1\n[Z]\nz=\xc3\xbf\n");
    QMap<QString, QString> expected = contents(store.path());
    expected["NBLOCK/BLOCK"] = text;
    QVERIFY(store->save({"NBLOCK", "BLOCK", text}));
    QCOMPARE(readSetting(*store, "NBLOCK", "BLOCK", "none"), text);
    QCOMPARE(readSetting(*store, "COMPORT", "COM", "none"), QString("3"));
    // Whatever the text, no section or key is made of it.
    QCOMPARE(contents(store.path()), expected);
}

void TestBadSettings::unreadableFileIsNeverReplaced()
{
    TempStore store;
    const QByteArray before("[COMPORT]\nCOM=3\n");
    writeFile(store.path(), before);
    QFile::setPermissions(store.path(), QFileDevice::Permissions());
#ifdef Q_OS_UNIX
    // Root reads any file: the save runs as nobody, owning the folder and the
    // file; real IDs too (access() asks with them), root's kept as the saved ones.
    const bool root = ::geteuid() == 0;
    const auto becomeRootAgain = [root] {
        if (root && (::setresuid(0, 0, 0) != 0 || ::setresgid(0, 0, 0) != 0))
            qFatal("could not become root again");
    };
    auto stayRoot = qScopeGuard(becomeRootAgain);
    for (const QString &path : {store.dir.path(), store.path()})
        QVERIFY(!root || ::chown(QFile::encodeName(path).constData(), 65534, 65534) == 0);
    QVERIFY(!root || (::setresgid(65534, 65534, 0) == 0 && ::setresuid(65534, 65534, 0) == 0));
    QVERIFY2(!QFile(store.path()).open(QIODevice::ReadOnly), "the file stays readable: nothing would be checked");
#else
    if (QFile(store.path()).open(QIODevice::ReadOnly))
        QSKIP("a file without permissions stays readable here (read-only on Windows): nothing to check");
#endif
    store->save({"NBLOCK", "BLOCK", "5"});
#ifdef Q_OS_UNIX
    stayRoot.dismiss();
    becomeRootAgain();
#endif
    QFile::setPermissions(store.path(), QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    QCOMPARE(fileBytes(store.path()), before);
}

// Text typed in another encoding (Windows-1251) would come back from a save
// as replacement characters: the file is left alone, and the store says why.
void TestBadSettings::textNotInUtf8IsNeverRewritten()
{
    TempStore store;
    const QByteArray before("[COMPORT]\nCOM=3\n[Notes]\ntext=\xcf\xf0\xe8\xe2\xe5\xf2\n");
    writeFile(store.path(), before);
    QStringList problems;
    store->setProblemHandler([&problems](const QString &text) { problems << text; });

    QVERIFY(!store->save({"NBLOCK", "BLOCK", "5"}));
    QCOMPARE(fileBytes(store.path()), before);
    QCOMPARE(problems, QStringList{QStringLiteral("Не удалось сохранить настройки в %1: в нём есть текст не в "
                                                  "кодировке UTF-8 (ключ Notes/text), запись испортила бы его")
                                       .arg(QDir::toNativeSeparators(store.path()))});
    QCOMPARE(readSetting(*store, "COMPORT", "COM", "none"), QString("3"));
}

QTEST_GUILESS_MAIN(TestBadSettings)
#include "tst_badsettings.moc"
