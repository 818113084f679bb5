#include "ui/pages/harvest_page.h"

#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

#include "harvest/url_resolve.h"
#include "platform/qt/qt_text.h"
#include "ui/pages/page_fields.h"

namespace tarnvelox::ui {

namespace {

using platform::qt::to_bytes;
using platform::qt::to_qstring;

}  // namespace

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

}  // namespace tarnvelox::ui
