#include "ui/combobox.h"

#include <QComboBox>

QComboBox *newEditableCombo(QWidget *parent, const char *objectName)
{
    auto *box = new QComboBox(parent);
    box->setObjectName(QLatin1String(objectName));
    box->setEditable(true);
    box->setInsertPolicy(QComboBox::NoInsert);
    return box;
}

int selectedEntry(const QComboBox *box)
{
    // An editable box keeps its current index while the operator types over
    // the field, so the index alone does not tell what the field shows.
    const QString text = box->currentText();
    const int current = box->currentIndex();
    if (current >= 0 && box->itemText(current) == text)
        return current;
    return box->findText(text, Qt::MatchExactly | Qt::MatchCaseSensitive);
}
