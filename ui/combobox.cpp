#include "ui/combobox.h"

#include <QComboBox>
#include <QLineEdit>

QComboBox *newEditableCombo(QWidget *parent, const char *objectName)
{
    auto *box = new QComboBox(parent);
    box->setObjectName(QLatin1String(objectName));
    box->setEditable(true);
    box->setInsertPolicy(QComboBox::NoInsert);
    // A chosen entry longer than the field shows from its start, not its end.
    QObject::connect(box, &QComboBox::currentIndexChanged, box, [box] {
        if (QLineEdit *field = box->lineEdit())
            field->setCursorPosition(0);
    });
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
