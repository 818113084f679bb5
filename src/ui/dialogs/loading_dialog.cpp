#include "ui/dialogs/loading_dialog.h"

#include <QApplication>
#include <QFormLayout>
#include <QLabel>

#include "ui/dialogs/counter_row.h"

namespace tarnvelox::ui {

namespace {

constexpr int kPaintEveryMs = 50;  // the counters repaint at most this often

}  // namespace

LoadingDialog::LoadingDialog(QWidget* parent) : QDialog(parent) {
    setWindowTitle("Loading Project. Please Wait...........");
    setAccessibleName(windowTitle());
    setModal(true);
    auto* form = new QFormLayout(this);
    counters_[0] = counter_row(form, "Links:", this);
    counters_[1] = counter_row(form, "Bad Links:", this);
    counters_[2] = counter_row(form, "Addresses:", this);
    setMinimumWidth(360);
}

void LoadingDialog::show_load_counts(int32_t total_links, int32_t bad_links, int32_t addresses) {
    if (since_paint_.isValid() && since_paint_.elapsed() < kPaintEveryMs) return;
    show_final(total_links, bad_links, addresses);
    // Paint now: no user input is taken while the project is half loaded.
    QApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
    since_paint_.start();
}

void LoadingDialog::show_final(int32_t total_links, int32_t bad_links, int32_t addresses) {
    counters_[0]->setText(QString::number(total_links));
    counters_[1]->setText(QString::number(bad_links));
    counters_[2]->setText(QString::number(addresses));
}

}  // namespace tarnvelox::ui
