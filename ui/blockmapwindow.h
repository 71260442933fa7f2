#pragma once

#include <QWidget>

class BlockStatistics;
class QLabel;
class QLineEdit;
class SettingsStore;
struct Settings;

// One block of the map: drawn as the report draws it; its accessible name is
// what a person reads off it ("Блок 5: с перебоями, ответил 3 из 6, 41 мс").
class BlockCell : public QWidget
{
public:
    BlockCell(int block, const BlockStatistics &statistics, QWidget *parent);
    void refresh();

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    int m_block;
    const BlockStatistics &m_statistics;
};

// The block map: a window of its own beside the main window, the blocks 1 to
// 32 with their states, the round, the drops of DSR and CTS, the
// installation's blocks (saved with the settings) and "Сбросить".
class BlockMapWindow : public QWidget
{
    Q_OBJECT
public:
    BlockMapWindow(BlockStatistics &statistics, SettingsStore &store, Settings &settings, QWidget *parent);

    // Redraws one block (0: the round and line counters only); every block after a clear.
    void refreshBlock(int block);

private:
    void refreshAll();
    void takeInstalledBlocks();
    void refreshCounters();

    BlockStatistics &m_statistics;
    SettingsStore &m_store;
    Settings &m_settings;
    QList<BlockCell *> m_cells;
    QLineEdit *m_installedEdit = nullptr;
    QLabel *m_installedProblem = nullptr;
    QLabel *m_counters = nullptr;
};
