#include "ui/dialogs/export_dialog.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QVBoxLayout>

#include "platform/qt/qt_text.h"

namespace tarnvelox::ui {

namespace {

using platform::qt::to_bytes;
using platform::qt::to_qstring;

// A filter text is read into a buffer of this many characters; a longer one cannot be typed.
constexpr int kMaxFilterLength = 2048;
// Room for a domain list or a pattern without scrolling, in average characters.
constexpr int kFieldWidthChars = 32;

constexpr std::array<const char*, FilterGroup::kFieldCount> kFilterLabels = {
    "&Limit to Domain: (eg: au,nz,com)",
    "&Must Contain: (eg: webmaster@*)",
    "Must &not contain: (eg: root@*)",
};

// The visible text of a control without its mnemonic marks: what a screen reader should say.
QString spoken(const QString& text) {
    QString out;
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i] == '&' && i + 1 < text.size()) ++i;
        out += text[i];
    }
    return out;
}

QPushButton* add_button(QDialogButtonBox* box, const QString& text,
                        QDialogButtonBox::ButtonRole role) {
    QPushButton* button = box->addButton(text, role);
    button->setAccessibleName(spoken(text));
    return button;
}

}  // namespace

// ---- Filter ---------------------------------------------------------------------------------

FilterGroup::FilterGroup(const exchange::ItemFilter& filter, QWidget* parent)
    : QGroupBox("Filter", parent) {
    setAccessibleName(title());
    auto* form = new QFormLayout(this);
    // Labels above nothing and never wrapped: each is a whole hint ("eg: ...") to its field.
    form->setRowWrapPolicy(QFormLayout::DontWrapRows);
    form->setFieldGrowthPolicy(QFormLayout::ExpandingFieldsGrow);
    const std::array<const std::string*, kFieldCount> texts = {
        &filter.domains, &filter.must_contain, &filter.must_not_contain};
    for (std::size_t i = 0; i < fields_.size(); ++i) {
        auto* field = new QLineEdit(this);
        auto* label = new QLabel(kFilterLabels[i], this);
        label->setBuddy(field);
        field->setAccessibleName(spoken(label->text()));
        field->setMaxLength(kMaxFilterLength);
        field->setMinimumWidth(field->fontMetrics().averageCharWidth() * kFieldWidthChars);
        field->setText(to_qstring(*texts[i]));
        form->addRow(label, field);
        fields_[i] = field;
    }
}

exchange::ItemFilter FilterGroup::filter() const {
    exchange::ItemFilter out;
    out.domains = to_bytes(field(kDomains)->text());
    out.must_contain = to_bytes(field(kMustContain)->text());
    out.must_not_contain = to_bytes(field(kMustNotContain)->text());
    return out;
}

// ---- Export ---------------------------------------------------------------------------------

ExportDialog::ExportDialog(const exchange::ItemFilter& filter, QWidget* parent) : QDialog(parent) {
    setWindowTitle("Export");
    setAccessibleName(windowTitle());
    filter_ = new FilterGroup(filter, this);
    auto* buttons = new QDialogButtonBox(this);
    all_ = add_button(buttons, "All", QDialogButtonBox::AcceptRole);
    selected_ = add_button(buttons, "Selected Only", QDialogButtonBox::AcceptRole);
    cancel_ = add_button(buttons, "Cancel", QDialogButtonBox::RejectRole);
    all_->setDefault(true);
    // Both export buttons accept; which one was pressed decides the rows taken.
    connect(all_, &QPushButton::clicked, this, [this] {
        selected_only_ = false;
        accept();
    });
    connect(selected_, &QPushButton::clicked, this, [this] {
        selected_only_ = true;
        accept();
    });
    connect(cancel_, &QPushButton::clicked, this, &QDialog::reject);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(filter_);
    layout->addWidget(buttons);
    layout->setSizeConstraint(QLayout::SetMinimumSize);
}

ExportChoice ExportDialog::choice() const {
    ExportChoice out;
    out.selected_only = selected_only_;
    out.filter = filter_->filter();
    return out;
}

std::optional<ExportChoice> run_export_dialog(QWidget* parent, const exchange::ItemFilter& filter) {
    // Held by a guard: the nested event loop may close the parent, and the dialog with it.
    QPointer<ExportDialog> dialog = new ExportDialog(filter, parent);
    const int result = dialog->exec();
    if (dialog.isNull()) return std::nullopt;
    std::optional<ExportChoice> out;
    if (result == QDialog::Accepted) out = dialog->choice();
    delete dialog.data();
    return out;
}

}  // namespace tarnvelox::ui
