// The reply path on the fuzzer's seed corpus: every seed, and every input the
// fuzzer once found wrong and that was added to the corpus, keeps giving
// exactly the lines and verdicts the operator is owed, in the ordinary build.
#include "fuzz/replycheck.h"

#include <QDir>
#include <QFile>
#include <QTest>

class TestReplyPath : public QObject
{
    Q_OBJECT

private slots:
    void corpusKeepsItsPromises_data();
    void corpusKeepsItsPromises();
};

void TestReplyPath::corpusKeepsItsPromises_data()
{
    QTest::addColumn<QByteArray>("input");

    const QString corpus = QFINDTESTDATA("../fuzz/corpus");
    QVERIFY2(!corpus.isEmpty(), "fuzz/corpus not found");
    const QFileInfoList files = QDir(corpus).entryInfoList(QDir::Files, QDir::Name);
    QVERIFY(files.size() >= 10);
    for (const QFileInfo &info : files) {
        QFile file(info.filePath());
        QVERIFY(file.open(QIODevice::ReadOnly));
        QTest::newRow(qPrintable(info.fileName())) << file.readAll();
    }
}

void TestReplyPath::corpusKeepsItsPromises()
{
    QFETCH(QByteArray, input);
    const auto *bytes = reinterpret_cast<const uint8_t *>(input.constData());
    const replycheck::Case c = replycheck::decode(bytes, size_t(input.size()));
    const QString failures = replycheck::check(c);
    QVERIFY2(failures.isEmpty(), qPrintable(failures));
}

QTEST_GUILESS_MAIN(TestReplyPath)
#include "tst_replypath.moc"
