#pragma once

// A captioned read-only counter in a dialog's form: the dialogs that show counts share it.

#include <QString>

class QFormLayout;
class QLabel;
class QWidget;

namespace tarnvelox::ui {

// Adds "caption value" to `form`; the value starts at "0", is named after its caption and
// can be selected for copying.
QLabel* counter_row(QFormLayout* form, const QString& caption, QWidget* parent);

}  // namespace tarnvelox::ui
