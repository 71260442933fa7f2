#pragma once

#include "checks/operatorpanel.h"

#include <functional>

class BlockScan;
class BlockStatistics;
struct LinkResult;
class CheckSession;

// The watch over the installation: scan rounds (each reply ending at its line end) until told to stop.
// Every reply goes into the statistics; the log gets a line only when a block's state or the link
// test's verdict changes, so it does not grow with the rounds.
class InstallationWatch
{
public:
    InstallationWatch(CheckSession &session, OperatorPanel &panel, BlockStatistics &statistics);

    struct Result
    {
        int rounds = 0;
        bool stopped = false;       // on request
        bool portLost = false;      // the port closed under it
        bool portNotOpen = false;   // the port was not open at a round's start
    };
    // Runs rounds until requestStop() (or `rounds` of them, 0 for no limit).
    Result run(int rounds = 0);
    // Stops after the block under way (asked before run(), the run stops at once).
    void requestStop();

    // Told after each result has gone into the statistics: the block's number, 0 for the link test.
    std::function<void(int block)> onChange = [](int) {};

private:
    // The checks' own lines are held back (only changes reach the log); their buttons are the window's.
    class HeldPanel : public OperatorPanel
    {
    public:
        explicit HeldPanel(OperatorPanel &panel) : m_panel(panel) {}
        void addMessage(const QString &) override {}
        void setButtonEnabled(Button button, bool enabled) override { m_panel.setButtonEnabled(button, enabled); }

    private:
        OperatorPanel &m_panel;
    };

    // A link test's verdict, told when it differs from the last one.
    void tellLinkVerdict(const LinkResult &link, int &lastVerdict, const QString &prefix);

    CheckSession &m_session;
    OperatorPanel &m_panel;
    BlockStatistics &m_statistics;
    HeldPanel m_held;
    bool m_stopRequested = false;
    BlockScan *m_scan = nullptr;   // the scan of the run under way
};
