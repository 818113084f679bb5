#include "ui/dialogs/counter_row.h"

#include <QFormLayout>
#include <QLabel>

namespace tarnvelox::ui {

QLabel* counter_row(QFormLayout* form, const QString& caption, QWidget* parent) {
    auto* label = new QLabel(caption, parent);
    auto* value = new QLabel("0", parent);
    value->setAccessibleName(caption);
    value->setTextInteractionFlags(Qt::TextSelectableByKeyboard | Qt::TextSelectableByMouse);
    value->setMinimumWidth(90);
    label->setBuddy(value);
    form->addRow(label, value);
    return value;
}

}  // namespace tarnvelox::ui
