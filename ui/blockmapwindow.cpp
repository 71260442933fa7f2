#include "ui/blockmapwindow.h"

#include "checks/blockstatistics.h"
#include "checks/blockranges.h"
#include "link/settings.h"
#include "report/blockmappicture.h"

#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPushButton>
#include <QVBoxLayout>

BlockCell::BlockCell(int block, const BlockStatistics &statistics, QWidget *parent)
    : QWidget(parent), m_block(block), m_statistics(statistics)
{
    setObjectName(QStringLiteral("block%1").arg(block));
    setMinimumSize(88, 76);
    setFocusPolicy(Qt::TabFocus);
    refresh();
}

void BlockCell::refresh()
{
    const QString name = m_statistics.description(m_block);
    const QString times = m_statistics.replyTimes(m_block);
    const QDateTime last = m_statistics.tally(m_block).lastReply;
    QString tip = name;
    if (!times.isEmpty())
        tip += QStringLiteral("\nВремя ответа: ") + times;
    if (last.isValid())
        tip += QStringLiteral("\nПоследний ответ: ") + last.toString(kDateTimeFormat);
    if (accessibleName() != name) {
        setAccessibleName(name);
        setAccessibleDescription(times);
        setToolTip(tip);
    }
    update();   // this cell only, not the window
}

void BlockCell::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    BlockMapPicture::paintCell(painter, QRectF(rect()), m_block, m_statistics, palette());
    if (hasFocus()) {
        painter.setPen(QPen(palette().color(QPalette::Highlight), 2));
        painter.drawRect(QRectF(rect()).adjusted(1, 1, -1, -1));
    }
}

BlockMapWindow::BlockMapWindow(BlockStatistics &statistics, SettingsStore &store, Settings &settings,
                               QWidget *parent)
    : QWidget(parent, Qt::Window), m_statistics(statistics), m_store(store), m_settings(settings)
{
    setObjectName(QStringLiteral("blockMap"));
    setWindowTitle(QStringLiteral("Карта блоков"));

    auto *installedLabel = new QLabel(QStringLiteral("Блоки установки:"), this);
    m_installedEdit = new QLineEdit(blockRanges(m_statistics.installed(), QStringLiteral(", ")), this);
    m_installedEdit->setObjectName(QStringLiteral("installedBlocks"));
    m_installedEdit->setToolTip(QStringLiteral("Номера и диапазоны блоков, например 1-24 или 1-5, 9"));
    installedLabel->setBuddy(m_installedEdit);
    m_installedProblem = new QLabel(this);
    m_installedProblem->setObjectName(QStringLiteral("installedProblem"));
    m_installedProblem->setWordWrap(true);
    m_installedProblem->hide();
    m_counters = new QLabel(this);
    m_counters->setObjectName(QStringLiteral("mapCounters"));
    auto *clearButton = new QPushButton(QStringLiteral("Сбросить"), this);
    clearButton->setObjectName(QStringLiteral("clearMap"));

    auto *top = new QHBoxLayout;
    top->addWidget(installedLabel);
    top->addWidget(m_installedEdit, 1);
    top->addSpacing(12);
    top->addWidget(clearButton);

    auto *grid = new QGridLayout;
    grid->setSpacing(4);
    for (int n = 1; n <= BlockStatistics::kBlocks; ++n) {
        auto *cell = new BlockCell(n, m_statistics, this);
        grid->addWidget(cell, (n - 1) / BlockMapPicture::kColumns, (n - 1) % BlockMapPicture::kColumns);
        m_cells << cell;
    }

    auto *layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addWidget(m_installedProblem);
    layout->addWidget(m_counters);
    layout->addLayout(grid, 1);

    connect(m_installedEdit, &QLineEdit::editingFinished, this, &BlockMapWindow::takeInstalledBlocks);
    connect(clearButton, &QPushButton::clicked, this, [this] {
        m_statistics.clear();
        refreshAll();
    });
    refreshCounters();
}

void BlockMapWindow::takeInstalledBlocks()
{
    QString why;
    const std::optional<QList<int>> blocks = parseBlockRanges(m_installedEdit->text(), &why);
    if (!blocks || blocks->isEmpty()) {
        m_installedProblem->setText((blocks ? QStringLiteral("Не задан ни один блок") : why)
                                    + QStringLiteral(". Остаются блоки ")
                                    + blockRanges(m_statistics.installed(), QStringLiteral(", ")));
        m_installedProblem->show();
        return;
    }
    m_installedProblem->hide();
    m_installedEdit->setText(blockRanges(*blocks, QStringLiteral(", ")));
    if (*blocks == m_statistics.installed())
        return;
    m_statistics.setInstalled(*blocks);
    m_settings.installedBlocks = blockRanges(*blocks, QStringLiteral(","));
    m_settings.save(m_store, Settings::Key::InstalledBlocks);
    refreshAll();
}

void BlockMapWindow::refreshCounters()
{
    QString link = m_statistics.linkTests() > 0 ? linkVerdictWords(m_statistics.lastLinkVerdict())
                                                : QStringLiteral("не проводилась");
    m_counters->setText(QStringLiteral("Круг: %1    Проверка связи: %2    DSR пропадал: %3, CTS пропадал: %4")
                            .arg(m_statistics.rounds())
                            .arg(link)
                            .arg(m_statistics.dsrDrops())
                            .arg(m_statistics.ctsDrops()));
}

void BlockMapWindow::refreshBlock(int block)
{
    refreshCounters();
    if (block >= 1 && block <= m_cells.size())
        m_cells.at(block - 1)->refresh();
}

void BlockMapWindow::refreshAll()
{
    refreshCounters();
    for (BlockCell *cell : std::as_const(m_cells))
        cell->refresh();
}
