#include "ui/statusbar.h"

#include "ui/twips.h"

#include <QAccessibleWidget>
#include <QHBoxLayout>
#include <QLabel>

namespace {

// A plain widget is a "client" area to assistive technology; this one is the
// window's status bar, and says so.
QAccessibleInterface *statusBarAccessible(const QString &className, QObject *object)
{
    if (className != QLatin1String("StatusBar") || !object || !object->isWidgetType())
        return nullptr;
    auto *widget = static_cast<QWidget *>(object);
    return new QAccessibleWidget(widget, QAccessible::StatusBar);
}

} // namespace

StatusBar::StatusBar(QWidget *parent) : QWidget(parent)
{
    static const bool accessibleInstalled = (QAccessible::installFactory(statusBarAccessible), true);
    Q_UNUSED(accessibleInstalled);
    setAccessibleName(QStringLiteral("Строка состояния"));
    auto *row = new QHBoxLayout(this);
    row->setContentsMargins(1, 2, 1, 1);
    row->setSpacing(2);
    struct Layout
    {
        Sizing sizing;
        int widthTwips;
        int minTwips;
    };
    static constexpr Layout layout[kPanels] = {
        {Sizing::Contents, 1440, 1440}, {Sizing::Spring, 3765, 1440}, {Sizing::Fixed, 500, 500},
        {Sizing::Fixed, 500, 500},      {Sizing::Fixed, 500, 500},    {Sizing::Fixed, 500, 500},
    };
    for (int i = 0; i < kPanels; ++i) {
        Panel &p = m_panels[i];
        p.label = new QLabel(this);
        p.label->setObjectName(QStringLiteral("Panel%1").arg(i + 1));
        p.label->setFrameStyle(QFrame::Panel | QFrame::Sunken);
        p.label->setTextFormat(Qt::PlainText);
        p.sizing = layout[i].sizing;
        p.minTwips = layout[i].minTwips;
        p.widthTwips = layout[i].widthTwips;
        applyWidth(p);
        row->addWidget(p.label, p.sizing == Sizing::Spring ? 1 : 0);
    }
}

const StatusBar::Panel &StatusBar::at(int panel) const
{
    Q_ASSERT(panel >= 1 && panel <= kPanels);
    return m_panels[size_t(qBound(1, panel, kPanels) - 1)];
}

StatusBar::Panel &StatusBar::at(int panel)
{
    Q_ASSERT(panel >= 1 && panel <= kPanels);
    return m_panels[size_t(qBound(1, panel, kPanels) - 1)];
}

QString StatusBar::panelText(int panel) const
{
    return at(panel).label->text();
}

void StatusBar::setPanelText(int panel, const QString &text)
{
    at(panel).label->setText(text);
}

void StatusBar::setPanelWidth(int panel, int twips)
{
    Panel &p = at(panel);
    p.widthTwips = qMax(twips, p.minTwips);
    applyWidth(p);
}

int StatusBar::panelWidth(int panel) const
{
    return at(panel).widthTwips;
}

QLabel *StatusBar::panelLabel(int panel) const
{
    return at(panel).label;
}

void StatusBar::applyWidth(Panel &p)
{
    const int px = Twips::toPxX(p.widthTwips);
    switch (p.sizing) {
    case Sizing::Contents:
        // At least the set width, wider when the text needs it.
        p.label->setMinimumWidth(px);
        p.label->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Preferred);
        break;
    case Sizing::Spring:
        p.label->setMinimumWidth(px);
        p.label->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
        break;
    case Sizing::Fixed:
        p.label->setFixedWidth(px);
        break;
    }
}
