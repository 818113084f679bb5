#pragma once

// The main window's own dialogs: Status (the connection lines and the counters, live while a
// harvest runs), About, and the progress dialog shown while a project loads.

#include <QDialog>
#include <QElapsedTimer>
#include <array>
#include <cstdint>

#include "app/product.h"
#include "app/project.h"
#include "app/run_control.h"
#include "harvest/status_board.h"

class QLabel;
class QLineEdit;

namespace tarnvelox::ui {

using app::kBuildNumber;
using app::kProductName;
using app::kProductVersion;

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

// "About Tarnvelox": the product, version and build, and the settings' release number.
class AboutDialog : public QDialog {
    Q_OBJECT

  public:
    AboutDialog(int32_t release, QWidget* parent);
};

// "Loading Project. Please Wait...........": the counters while load_project reads. The
// counters are painted at most every 50 ms; painting lets the event loop run a moment without
// user input, so the window stays drawn while a large project loads.
class LoadingDialog : public QDialog, public app::LoadProgress {
    Q_OBJECT

  public:
    explicit LoadingDialog(QWidget* parent);
    void show_load_counts(int32_t total_links, int32_t bad_links, int32_t addresses) override;
    void show_final(int32_t total_links, int32_t bad_links, int32_t addresses);

  private:
    std::array<QLabel*, 3> counters_{};
    QElapsedTimer since_paint_;
};

}  // namespace tarnvelox::ui
