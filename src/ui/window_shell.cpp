#include "ui/window_shell.h"

#include <QLabel>
#include <QStatusBar>
#include <cstdio>

#include "platform/qt/qt_text.h"
#include "ui/list_pane.h"

namespace tarnvelox::ui {

namespace {

// The status line, the counters and the list views' batches: painted together, at most ten
// times a second. A person reads no faster, and each paint is time the harvest waits for.
constexpr int kPaintMs = 100;
constexpr int kSecondPartWidth = 60;  // the status bar's address count

}  // namespace

WindowShell::WindowShell(platform::Desktop& desktop) : desktop_(desktop) {
    paint_timer_.setSingleShot(true);
    paint_timer_.setInterval(kPaintMs);
    QObject::connect(&paint_timer_, &QTimer::timeout, &paint_timer_, [this] { flush_display(); });
}

WindowShell::~WindowShell() = default;

void WindowShell::build_status_bar(QStatusBar* bar, QWidget* window) {
    status_text_ = new QLabel(window);
    status_text_->setTextFormat(Qt::PlainText);
    status_text_->setMinimumWidth(1);
    // A new line never changes the bar's layout: the part keeps its width, whatever the text.
    status_text_->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    // The run's figures, painted with the counters.
    progress_ = new QLabel(window);
    progress_->setTextFormat(Qt::PlainText);
    progress_->setAccessibleName("Progress");
    progress_->setToolTip("Pages visited, links pending and bad links");
    address_count_ = new QLabel("0", window);
    address_count_->setFixedWidth(kSecondPartWidth);
    address_count_->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    address_count_->setToolTip("Addresses");
    bar->addWidget(status_text_, 1);
    bar->addPermanentWidget(progress_);
    bar->addPermanentWidget(address_count_);
    bar->setSizeGripEnabled(true);
}

void WindowShell::attach(QWidget* window, const app::Context& ctx, app::HarvestRun& run,
                         ListPane& links, ListPane& addresses) {
    window_ = window;
    context_ = &ctx;
    harvest_ = &run;
    links_ = &links;
    addresses_ = &addresses;
}

// ---- Status line, counters and errors --------------------------------------------------------

void WindowShell::show_slot_status(int slot, std::string_view text) {
    const QString shown = platform::qt::to_qstring(text);
    if (status_dialog_ != nullptr)
        status_dialog_->show_line(slot, shown, context_->status.slots_in_use());
    pending_status_ = shown;
    status_pending_ = true;
    schedule_paint();
}

void WindowShell::show_status_text(const QString& text) {
    status_pending_ = false;
    status_text_->setText(text);
}

void WindowShell::tell_on_stderr(std::string_view message) {
    saved_on_close_ = false;  // whatever failed on the way out makes the exit status say so
    std::fprintf(stderr, "tarnvelox: %.*s\n", static_cast<int>(message.size()), message.data());
}

void WindowShell::report_error(std::string_view message) {
    if (signalled_) {
        tell_on_stderr(message);
        return;
    }
    if (context_->run.harvest_running == 0 && pending_errors_.empty()) {
        desktop_.message_box("Error", message, platform::MessageIcon::Error);
        return;
    }
    pending_errors_.emplace_back(message);
    if (errors_scheduled_ || showing_errors_) return;
    errors_scheduled_ = true;
    QTimer::singleShot(0, &paint_timer_, [this] { show_pending_errors(); });
}

void WindowShell::show_pending_errors() {
    errors_scheduled_ = false;
    // One at a time, in order; an error told while a box is open waits behind it.
    showing_errors_ = true;
    while (!pending_errors_.empty()) {
        const std::string message = std::move(pending_errors_.front());
        pending_errors_.erase(pending_errors_.begin());
        if (signalled_) {
            tell_on_stderr(message);
        } else {
            desktop_.message_box("Error", message, platform::MessageIcon::Error);
        }
    }
    showing_errors_ = false;
}

void WindowShell::flush_errors_to_stderr() {
    if (!signalled_) return;
    for (const std::string& message : pending_errors_) tell_on_stderr(message);
    pending_errors_.clear();
}

void WindowShell::refresh_status_counters() {
    counters_pending_ = true;
    schedule_paint();
}

void WindowShell::schedule_paint() {
    if (!paint_timer_.isActive()) paint_timer_.start();
}

void WindowShell::flush_display() {
    paint_timer_.stop();
    // The views' batches go with the status bar: one paint of the window, not one for each.
    links_->model()->flush();
    addresses_->model()->flush();
    if (status_pending_) {
        status_text_->setText(pending_status_);
        status_pending_ = false;
    }
    if (counters_pending_) paint_counters();
}

void WindowShell::paint_counters() {
    counters_pending_ = false;
    address_count_->setText(QString::number(context_->store.total_addresses));
    const app::StatusCounters c = harvest_->status_counters();
    progress_->setText(
        QString("Visited %1  Pending %2  Bad %3").arg(c.visited).arg(c.pending).arg(c.bad));
    if (status_dialog_ != nullptr) status_dialog_->show_counters(harvest_->status_counters());
}

// ---- Rows -----------------------------------------------------------------------------------

// The models batch their rows on their own; the window's paint timer, started first, takes
// their batches with the status bar's.
void WindowShell::link_row_added(const store::ItemRecord&) {
    schedule_paint();
    links_->model()->row_added();
}
void WindowShell::link_row_changed(const store::ItemRecord& rec) {
    schedule_paint();
    links_->model()->row_changed(rec);
    link_changed(rec);
}
void WindowShell::link_row_removing(int row) {
    // `row` is the record's list position; the record is still alive here.
    record_leaving(ListKind::Links, row);
    schedule_paint();
    links_->model()->row_removing(row);
}
void WindowShell::link_row_removed(int row) { links_->model()->row_removed(row); }
void WindowShell::address_row_added(const store::ItemRecord&) {
    schedule_paint();
    addresses_->model()->row_added();
}
void WindowShell::address_row_removing(int row) {
    record_leaving(ListKind::Addresses, row);
    schedule_paint();
    addresses_->model()->row_removing(row);
}
void WindowShell::address_row_removed(int row) { addresses_->model()->row_removed(row); }

void WindowShell::views_cleared() {
    records_cleared();
    links_->model()->cleared();
    addresses_->model()->cleared();
}

// ---- RunWindow ------------------------------------------------------------------------------

void WindowShell::busy_cursor(bool busy) { desktop_.busy_cursor(busy); }

bool WindowShell::confirm(std::string_view question) {
    return desktop_.confirm("Confirm", question);
}

void WindowShell::open_status_dialog() {
    if (status_dialog_ != nullptr) {
        status_dialog_->raise();
        return;
    }
    StatusDialog dialog(context_->status, harvest_->status_counters(), window_);
    status_dialog_ = &dialog;
    dialog.exec();
    status_dialog_ = nullptr;
}

}  // namespace tarnvelox::ui
