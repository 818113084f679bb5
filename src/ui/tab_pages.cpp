#include "ui/tab_pages.h"

#include <QCheckBox>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QVBoxLayout>

#include "harvest/url_resolve.h"
#include "platform/qt/qt_text.h"

namespace tarnvelox::ui {

namespace {

using platform::qt::to_bytes;
using platform::qt::to_qstring;

// The visible text of a control without its mnemonic marks: what a screen reader should say.
QString spoken(const QString& text) {
    QString out;
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i] == '&' && i + 1 < text.size()) ++i;
        out += text[i];
    }
    return out;
}

// A labelled line edit: the label is the field's buddy and its text the field's name.
QLineEdit* add_field(QFormLayout* form, const QString& label_text, QWidget* parent) {
    auto* field = new QLineEdit(parent);
    auto* label = new QLabel(label_text, parent);
    label->setBuddy(field);
    field->setAccessibleName(spoken(label_text));
    form->addRow(label, field);
    return field;
}

std::optional<std::string> text_or_none(const QLineEdit* field) {
    if (field->text().isEmpty()) return std::nullopt;
    return to_bytes(field->text());
}

}  // namespace

// ---- Harvest --------------------------------------------------------------------------------

HarvestPage::HarvestPage(QWidget* parent) : QWidget(parent) {
    setAccessibleName("Harvest");
    auto* form = new QFormLayout;
    url_ = add_field(form, "&Starting URL:", this);
    crawl_ = add_field(form, "&Crawl if contains:", this);
    extract_ = add_field(form, "E&xtract if contains:", this);

    auto* group = new QGroupBox("Limit to:", this);
    group->setAccessibleName("Limit to:");
    auto* radios = new QHBoxLayout(group);
    static const char* const kScopes[] = {"&URL", "&Directory", "&Path", "Se&rver", "&No Limit"};
    for (std::size_t i = 0; i < scopes_.size(); ++i) {
        scopes_[i] = new QRadioButton(kScopes[i], group);
        scopes_[i]->setAccessibleName(spoken(kScopes[i]));
        radios->addWidget(scopes_[i]);
    }
    radios->addStretch();

    // The page's ">>" button has no action.
    auto* more = new QPushButton(">>", this);
    more->setAccessibleName(">>");
    more->setFixedWidth(more->fontMetrics().horizontalAdvance(">>") + 24);

    auto* top = new QHBoxLayout;
    top->addLayout(form, 1);
    top->addWidget(more, 0, Qt::AlignTop);
    auto* page = new QVBoxLayout(this);
    page->addLayout(top);
    page->addWidget(group);
    page->addStretch();

    connect(url_, &QLineEdit::textChanged, this, &HarvestPage::url_edited);
    for (QLineEdit* field : {url_, crawl_, extract_}) {
        connect(field, &QLineEdit::returnPressed, this, &HarvestPage::submitted);
    }
    url_edited();
}

void HarvestPage::url_edited() {
    // The four scopes that depend on a starting URL; "No Limit" never does.
    const bool has_url = !url_->text().isEmpty();
    for (int i = 0; i < harvest::kScopeNoLimit; ++i) {
        scopes_[static_cast<std::size_t>(i)]->setEnabled(has_url);
    }
}

void HarvestPage::fill(const harvest::SearchTexts& search) {
    url_->setText(search.starting_url ? to_qstring(*search.starting_url) : QString());
    crawl_->setText(search.crawl_keywords ? to_qstring(*search.crawl_keywords) : QString());
    extract_->setText(search.extract_keywords ? to_qstring(*search.extract_keywords) : QString());
    const int scope = search.crawl_scope;
    if (scope >= 0 && scope < static_cast<int>(scopes_.size())) {
        scopes_[static_cast<std::size_t>(scope)]->setChecked(true);
    }
    url_edited();
}

void HarvestPage::commit(harvest::SearchTexts& search) const {
    search.starting_url = harvest::normalise_starting_url(to_bytes(url_->text()));
    search.crawl_keywords = text_or_none(crawl_);
    search.extract_keywords = text_or_none(extract_);
    for (std::size_t i = 0; i < scopes_.size(); ++i) {
        if (scopes_[i]->isChecked()) {
            search.crawl_scope = static_cast<int32_t>(i);
            break;
        }
    }
}

// ---- Name Search and Web Search -------------------------------------------------------------

SearchPage::SearchPage(search::EnginePage page, store::ItemList& engines, int engine_rows_total,
                       QWidget* parent)
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
        rows->addWidget(tick, i, 0);
        rows->addWidget(more, i, 1);
        ticks_[static_cast<std::size_t>(i)] = tick;
        more_[static_cast<std::size_t>(i)] = more;
    }
    rows->setColumnStretch(0, 1);
    scroll_ = new QScrollBar(Qt::Vertical, this);
    scroll_->setAccessibleName(names ? "Directories" : "Search engines");
    scroll_->setRange(0, std::max(0, engine_rows_total - search::kEngineRows));
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
        // An "&" in an engine's name is shown, never taken as a mnemonic.
        tick->setText(to_qstring(row.text).replace('&', QStringLiteral("&&")));
        tick->setAccessibleName(row.record != nullptr && row.record->title
                                    ? to_qstring(*row.record->title)
                                    : QString());
        tick->setChecked(row.ticked);
        tick->setEnabled(row.tickable);
        more_[static_cast<std::size_t>(i)]->setEnabled(row.record != nullptr);
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

// ---- Details --------------------------------------------------------------------------------

DetailsPage::DetailsPage(QWidget* parent) : QWidget(parent) {
    setAccessibleName("Details");
    auto* form = new QFormLayout;
    static const char* const kLabels[] = {"&Source:", "&URL:", "&Title:", "&Modified:", "Si&ze:"};
    for (std::size_t i = 0; i < fields_.size(); ++i) {
        fields_[i] = add_field(form, kLabels[i], this);
        fields_[i]->setReadOnly(true);
    }
    delete_ = new QPushButton("&Delete", this);
    delete_->setAccessibleName("Delete");
    // "V" is the View menu's.
    verify_ = new QPushButton("Ver&ify", this);
    verify_->setAccessibleName("Verify");
    verify_->setToolTip("Fetch the link again now, or check that the address's domain takes mail");
    note_ = new QLabel(this);
    note_->setTextFormat(Qt::PlainText);
    note_->setWordWrap(true);
    note_->setAccessibleName("Verify result");
    note_->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    form->addRow(note_);
    auto* buttons = new QVBoxLayout;
    buttons->addWidget(delete_);
    buttons->addWidget(verify_);
    buttons->addStretch();
    auto* layout = new QHBoxLayout(this);
    layout->addLayout(form, 1);
    layout->addLayout(buttons);
    connect(delete_, &QPushButton::clicked, this, &DetailsPage::delete_requested);
    connect(verify_, &QPushButton::clicked, this, &DetailsPage::verify_requested);
    update_buttons();
}

void DetailsPage::show_record(const store::ItemRecord* rec) {
    auto text = [](const std::optional<std::string>& t) { return t ? to_qstring(*t) : QString(); };
    if (rec != shown_) note_->clear();  // the note was of another record
    shown_ = rec;
    update_buttons();
    if (rec == nullptr) {
        for (QLineEdit* f : fields_) f->clear();
        return;
    }
    fields_[0]->setText(text(rec->source));
    fields_[1]->setText(text(rec->url));
    fields_[2]->setText("  " + text(rec->title));
    fields_[3]->setText(text(rec->modified));
    const std::string size = rec->size.value_or("");
    fields_[4]->setText(to_qstring(size.substr(0, size.find(' '))));
    for (QLineEdit* f : fields_) f->setCursorPosition(0);
}

void DetailsPage::set_running(bool running) {
    running_ = running;
    update_buttons();
}

void DetailsPage::update_buttons() {
    delete_->setEnabled(shown_ != nullptr && !running_);
    verify_->setEnabled(shown_ != nullptr && !running_);
}

void DetailsPage::show_note(const QString& text) { note_->setText(text); }

}  // namespace tarnvelox::ui
