#include "ui/statusbar.h"

#include "ui/twips.h"

#include <QAccessibleWidget>
#include <QHBoxLayout>

namespace {

// A plain widget is a "client" area to assistive technology; this one is the
// window's status bar, and says so.
QAccessibleInterface *statusBarAccessible(const QString &className, QObject *object)
{
    if (className != QLatin1String("StatusBar") || !object || !object->isWidgetType())
        return nullptr;
    return new QAccessibleWidget(static_cast<QWidget *>(object), QAccessible::StatusBar);
}

} // namespace

StatusBar::StatusBar(QWidget *parent) : QWidget(parent)
{
    [[maybe_unused]] static const bool accessibleInstalled = (QAccessible::installFactory(statusBarAccessible), true);
    setAccessibleName(QStringLiteral("Строка состояния"));
    auto *row = new QHBoxLayout(this);
    row->setContentsMargins(1, 2, 1, 1);
    row->setSpacing(2);
    // Sizing, least and set width in twips.
    m_panels = {{{nullptr, Sizing::Contents, 1440, 1440}, {nullptr, Sizing::Spring, 1440, 3765},
                 {nullptr, Sizing::Fixed, 500, 500},      {nullptr, Sizing::Fixed, 500, 500},
                 {nullptr, Sizing::Fixed, 500, 500},      {nullptr, Sizing::Fixed, 500, 500}}};
    for (int i = 0; i < kPanels; ++i) {
        Panel &p = m_panels[size_t(i)];
        p.label = new QLabel(this);
        p.label->setObjectName(QStringLiteral("Panel%1").arg(i + 1));
        p.label->setFrameStyle(QFrame::Panel | QFrame::Sunken);
        p.label->setTextFormat(Qt::PlainText);
        applyWidth(p);
        row->addWidget(p.label, p.sizing == Sizing::Spring ? 1 : 0);
    }
}

size_t StatusBar::slot(int panel)
{
    Q_ASSERT(panel >= 1 && panel <= kPanels);
    return size_t(qBound(1, panel, kPanels) - 1);
}

void StatusBar::setPanelWidth(int panel, int twips)
{
    Panel &p = m_panels[slot(panel)];
    p.widthTwips = qMax(twips, p.minTwips);
    applyWidth(p);
}

void StatusBar::applyWidth(Panel &p)
{
    const int px = Twips::toPxX(p.widthTwips);
    if (p.sizing == Sizing::Fixed) {
        p.label->setFixedWidth(px);
        return;
    }
    // At least the set width; wider when the text needs it, or as the others leave room.
    p.label->setMinimumWidth(px);
    p.label->setSizePolicy(p.sizing == Sizing::Spring ? QSizePolicy::Ignored : QSizePolicy::Fixed,
                           QSizePolicy::Preferred);
}
