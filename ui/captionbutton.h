#pragma once

#include <QPushButton>

// A push button whose caption wraps at word boundaries, as the form's command
// buttons do: the long captions of the main window need two lines.
class CaptionButton : public QPushButton
{
    Q_OBJECT
public:
    using QPushButton::QPushButton;

protected:
    void paintEvent(QPaintEvent *event) override;
};

// A command button of a form at its place; Enter in a dialog presses none of them.
template<typename Button = CaptionButton>
QPushButton *newFormButton(QWidget *parent, const char *name, const QString &caption, const QRect &geometry)
{
    auto *button = new Button(caption, parent);
    button->setObjectName(QLatin1String(name));
    button->setAutoDefault(false);
    button->setGeometry(geometry);
    return button;
}
