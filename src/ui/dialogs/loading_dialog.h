#pragma once

// The progress dialog shown while a project loads.

#include <QDialog>
#include <QElapsedTimer>
#include <array>
#include <cstdint>

#include "app/project.h"

class QLabel;

namespace tarnvelox::ui {

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
