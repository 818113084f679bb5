#include "ui/pages/details_page.h"

#include <QFormLayout>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "platform/qt/qt_text.h"
#include "ui/pages/page_fields.h"

namespace tarnvelox::ui {

namespace {

using platform::qt::to_bytes;
using platform::qt::to_qstring;

}  // namespace

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
