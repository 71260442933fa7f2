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
