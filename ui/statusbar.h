#pragma once

#include <QLabel>
#include <array>

// Six text panels along the bottom of the main window, numbered 1 to 6 from
// the left: panel 1 grows to fit its text, panel 2 takes the width the others
// leave, panels 3 to 6 keep their width. Screen readers see it as a status bar.
class StatusBar : public QWidget
{
    Q_OBJECT
public:
    static constexpr int kPanels = 6;

    explicit StatusBar(QWidget *parent = nullptr);

    QString panelText(int panel) const { return panelLabel(panel)->text(); }
    void setPanelText(int panel, const QString &text) { panelLabel(panel)->setText(text); }
    // Width in twips, never below the panel's minimum.
    void setPanelWidth(int panel, int twips);
    int panelWidth(int panel) const { return m_panels[slot(panel)].widthTwips; }
    QLabel *panelLabel(int panel) const { return m_panels[slot(panel)].label; }

private:
    enum class Sizing { Contents, Spring, Fixed };
    struct Panel
    {
        QLabel *label = nullptr;
        Sizing sizing = Sizing::Fixed;
        int minTwips = 0;
        int widthTwips = 0;
    };
    static size_t slot(int panel);
    void applyWidth(Panel &p);

    std::array<Panel, kPanels> m_panels;
};
