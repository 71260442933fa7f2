#pragma once

class QComboBox;
class QWidget;

// A drop-down list whose field can also be typed into. Typed text never
// becomes an entry of its own.
QComboBox *newEditableCombo(QWidget *parent, const char *objectName);
