#pragma once

// The OK and Cancel row of the program's dialogs.

class QDialog;
class QDialogButtonBox;
class QPushButton;

namespace tarnvelox::ui {

// A button box with "OK" (the default, accepting `dialog`) and "Cancel" (rejecting it), each
// named by its text for screen readers. `ok` and `cancel` receive the two buttons.
QDialogButtonBox* ok_cancel_buttons(QDialog* dialog, QPushButton*& ok, QPushButton*& cancel);

}  // namespace tarnvelox::ui
