#pragma once

// The Status dialog: the connection slots' lines and the run's counters, live while a
// harvest runs. The window keeps it open for as long as the person does.

#include <QDialog>
#include <array>

#include "app/run_control.h"
#include "harvest/status_board.h"

class QLabel;
class QLineEdit;

namespace tarnvelox::ui {

// "Status": one line per connection ("1" to "20") and the four counters. Lines show the last
// stored text, disabled; a line written while the dialog is open becomes enabled.
class StatusDialog : public QDialog {
    Q_OBJECT

  public:
    StatusDialog(const harvest::StatusBoard& lines, const app::StatusCounters& counters,
                 QWidget* parent);
    // `slot`'s new line (-1: every slot in use, `slots_in_use` of them).
    void show_line(int slot, const QString& text, int slots_in_use);
    void show_counters(const app::StatusCounters& counters);

    QLineEdit* line(int slot) const { return lines_[static_cast<std::size_t>(slot)]; }
    QLabel* counter(int index) const { return counters_[static_cast<std::size_t>(index)]; }

  private:
    std::array<QLineEdit*, harvest::kStatusSlots> lines_{};
    std::array<QLabel*, 4> counters_{};  // visited, pending, bad, bytes
};

}  // namespace tarnvelox::ui
