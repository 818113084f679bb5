#include "ui/pages/search_page.h"

#include <QCheckBox>
#include <QFormLayout>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QVBoxLayout>

#include "platform/qt/qt_text.h"
#include "ui/pages/page_fields.h"

namespace tarnvelox::ui {

namespace {

using platform::qt::to_bytes;
using platform::qt::to_qstring;

}  // namespace

SearchPage::SearchPage(search::EnginePage page, store::ItemList& engines, QWidget* parent)
    : QWidget(parent), page_(page), engines_(engines) {
    const bool names = page == search::EnginePage::NameSearch;
    setAccessibleName(names ? "Name Search" : "Web Search");
    auto* form = new QFormLayout;
    text_ = add_field(form, names ? "&Name:" : "E&mail:", this);

    auto* list_label = new QLabel(names ? "Directories:" : "Search engines to use:", this);
    auto* rows = new QGridLayout;
    for (int i = 0; i < search::kEngineRows; ++i) {
        auto* tick = new QCheckBox(this);
        auto* more = new QPushButton(">>", this);
        more->setFixedWidth(more->fontMetrics().horizontalAdvance(">>") + 24);
        more->setAccessibleName(">>");
        connect(more, &QPushButton::clicked, this, [this, i] {
            Q_EMIT page_requested(rows_[static_cast<std::size_t>(i)].record);
        });
        rows->addWidget(tick, i, 0);
        rows->addWidget(more, i, 1);
        ticks_[static_cast<std::size_t>(i)] = tick;
        more_[static_cast<std::size_t>(i)] = more;
    }
    rows->setColumnStretch(0, 1);
    scroll_ = new QScrollBar(Qt::Vertical, this);
    scroll_->setAccessibleName(names ? "Directories" : "Search engines");
    const int rows_total = search::engine_row_count(engines, page);
    scroll_->setRange(0, std::max(0, rows_total - search::kEngineRows));
    scroll_->setPageStep(search::kEngineRows);
    rows->addWidget(scroll_, 0, 2, search::kEngineRows, 1);
    connect(scroll_, &QScrollBar::valueChanged, this, &SearchPage::scrolled);
    connect(text_, &QLineEdit::returnPressed, this, &SearchPage::submitted);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(list_label);
    layout->addLayout(rows);
    layout->addStretch();
    show_rows();
}

void SearchPage::show_rows() {
    rows_ =
        search::engine_rows(engines_, search::engine_row_start(engines_, first_row_, page_), page_);
    for (int i = 0; i < search::kEngineRows; ++i) {
        const search::EngineRow& row = rows_[static_cast<std::size_t>(i)];
        QCheckBox* tick = ticks_[static_cast<std::size_t>(i)];
        // The row text has every "&" doubled already: shown, never taken as a mnemonic.
        tick->setText(to_qstring(row.text));
        tick->setAccessibleName(row.record != nullptr && row.record->title
                                    ? to_qstring(*row.record->title)
                                    : QString());
        tick->setChecked(row.ticked);
        tick->setEnabled(row.tickable);
        more_[static_cast<std::size_t>(i)]->setEnabled(row.record != nullptr && !running_);
    }
}

void SearchPage::set_running(bool running) {
    running_ = running;
    for (int i = 0; i < search::kEngineRows; ++i) {
        more_[static_cast<std::size_t>(i)]->setEnabled(
            rows_[static_cast<std::size_t>(i)].record != nullptr && !running);
    }
}

void SearchPage::commit_ticks() {
    std::array<bool, search::kEngineRows> ticks{};
    for (int i = 0; i < search::kEngineRows; ++i) {
        ticks[static_cast<std::size_t>(i)] = ticks_[static_cast<std::size_t>(i)]->isChecked();
    }
    search::commit_engine_ticks(rows_, ticks);
}

void SearchPage::scrolled(int value) {
    if (engines_.empty()) return;
    commit_ticks();
    first_row_ = value;
    show_rows();
}

void SearchPage::fill(const harvest::SearchTexts& search) {
    const auto& text =
        page_ == search::EnginePage::NameSearch ? search.person_name : search.sought_addresses;
    text_->setText(text ? to_qstring(*text) : QString());
    show_rows();
}

void SearchPage::commit(harvest::SearchTexts& search) {
    auto& text =
        page_ == search::EnginePage::NameSearch ? search.person_name : search.sought_addresses;
    text = text_or_none(text_);
    commit_ticks();
}

}  // namespace tarnvelox::ui
