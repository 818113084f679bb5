#include "ui/dialogs/status_dialog.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "platform/qt/qt_text.h"
#include "ui/dialogs/counter_row.h"

namespace tarnvelox::ui {

StatusDialog::StatusDialog(const harvest::StatusBoard& lines, const app::StatusCounters& counters,
                           QWidget* parent)
    : QDialog(parent) {
    setWindowTitle("Status");
    setAccessibleName("Status");
    auto* grid = new QGridLayout;
    for (int i = 0; i < harvest::kStatusSlots; ++i) {
        const QString number = QString::number(i + 1);
        auto* label = new QLabel(number, this);
        auto* line = new QLineEdit(this);
        line->setReadOnly(true);
        line->setAccessibleName(number);
        line->setMinimumWidth(420);
        label->setBuddy(line);
        // The stored line, disabled until its slot writes while the dialog is open.
        line->setText(platform::qt::to_qstring(lines.line(i)));
        line->setEnabled(false);
        grid->addWidget(label, i % 10, (i / 10) * 2);
        grid->addWidget(line, i % 10, (i / 10) * 2 + 1);
        lines_[static_cast<std::size_t>(i)] = line;
    }
    auto* form = new QFormLayout;
    counters_[0] = counter_row(form, "Visited Links:", this);
    counters_[1] = counter_row(form, "Pending Links:", this);
    counters_[2] = counter_row(form, "Bad Links:", this);
    counters_[3] = counter_row(form, "Total Bytes:", this);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, this);
    buttons->button(QDialogButtonBox::Ok)->setAccessibleName("OK");
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    auto* bottom = new QHBoxLayout;
    bottom->addLayout(form);
    bottom->addStretch();
    bottom->addWidget(buttons, 0, Qt::AlignBottom);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(grid);
    layout->addLayout(bottom);
    show_counters(counters);
    buttons->button(QDialogButtonBox::Ok)->setFocus();
}

void StatusDialog::show_line(int slot, const QString& text, int slots_in_use) {
    const int first = slot >= 0 ? slot : 0;
    const int end = slot >= 0 ? slot + 1 : std::min(slots_in_use, harvest::kStatusSlots);
    for (int i = first; i < end && i < harvest::kStatusSlots; ++i) {
        QLineEdit* line = lines_[static_cast<std::size_t>(i)];
        line->setEnabled(true);
        line->setText(text);
    }
}

void StatusDialog::show_counters(const app::StatusCounters& c) {
    counters_[0]->setText(QString::number(c.visited));
    counters_[1]->setText(QString::number(c.pending));
    counters_[2]->setText(QString::number(c.bad));
    counters_[3]->setText(QString::number(c.bytes));
}

}  // namespace tarnvelox::ui
