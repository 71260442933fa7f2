#pragma once

class QComboBox;
class QString;
class QWidget;

// A drop-down list whose field can also be typed into. Typed text never
// becomes an entry of its own.
QComboBox *newEditableCombo(QWidget *parent, const char *objectName);

// Position of the entry shown in the box's field; -1 when the field holds
// typed text that names no entry.
int selectedEntry(const QComboBox *box);
