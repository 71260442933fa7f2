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
