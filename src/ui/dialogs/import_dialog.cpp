#include "ui/dialogs/import_dialog.h"

#include <QButtonGroup>
#include <QDialogButtonBox>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>
#include <QTabWidget>
#include <QVBoxLayout>
#include <algorithm>

#include "platform/qt/qt_text.h"
#include "ui/dialogs/export_dialog.h"
#include "ui/dialogs/ok_cancel_buttons.h"

namespace tarnvelox::ui {

namespace {

using platform::qt::to_qstring;

// Width of the help text beside the merge buttons, in average characters: the longest text
// then takes four or five lines.
constexpr int kHelpWidthChars = 40;

}  // namespace

ImportDialog::ImportDialog(const exchange::ItemFilter& filter, QWidget* parent) : QDialog(parent) {
    setWindowTitle("Import");
    setAccessibleName(windowTitle());

    // The tab bar first, so that Tab visits it before the page's controls.
    tabs_ = new QTabWidget(this);
    tabs_->setAccessibleName("Tabs");
    auto* options = new QWidget(tabs_);
    options->setAccessibleName("Import Options");
    auto* merge_box = new QGroupBox("Merge Control", options);
    merge_box->setAccessibleName(merge_box->title());
    auto* choices = new QButtonGroup(merge_box);
    auto* buttons_column = new QVBoxLayout;
    for (std::size_t mode = 0; mode < merge_.size(); ++mode) {
        auto* button = new QRadioButton(to_qstring(exchange::kMergeModeButtons[mode]), merge_box);
        button->setAccessibleName(button->text());
        button->setAccessibleDescription(to_qstring(exchange::kMergeModeHelp[mode]));
        choices->addButton(button, static_cast<int>(mode));
        buttons_column->addWidget(button);
        merge_[mode] = button;
    }
    buttons_column->addStretch();

    help_ = new QLabel(merge_box);
    help_->setWordWrap(true);
    help_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    // Room for the longest help text, so the dialog keeps its size while the choice changes.
    const int help_width = help_->fontMetrics().averageCharWidth() * kHelpWidthChars;
    int help_height = 0;
    for (std::string_view text : exchange::kMergeModeHelp) {
        help_->setText(to_qstring(text));
        help_height = std::max(help_height, help_->heightForWidth(help_width));
    }
    help_->setMinimumSize(help_width, help_height);

    auto* merge_layout = new QHBoxLayout(merge_box);
    merge_layout->addLayout(buttons_column);
    merge_layout->addWidget(help_, 1);
    connect(choices, &QButtonGroup::idToggled, this, [this](int mode, bool checked) {
        if (checked) show_help(mode);
    });

    filter_ = new FilterGroup(filter, options);
    auto* options_layout = new QVBoxLayout(options);
    options_layout->addWidget(merge_box);
    options_layout->addWidget(filter_);

    tabs_->addTab(options, "Import Options");

    QDialogButtonBox* buttons = ok_cancel_buttons(this, ok_, cancel_);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(tabs_);
    layout->addWidget(buttons);
    layout->setSizeConstraint(QLayout::SetMinimumSize);

    merge_[exchange::kMergeAddUnique]->setChecked(true);
    show_help(exchange::kMergeAddUnique);
}

void ImportDialog::show_help(int mode) {
    help_->setText(to_qstring(exchange::kMergeModeHelp[static_cast<std::size_t>(mode)]));
}

ImportChoice ImportDialog::choice() const {
    ImportChoice out;
    for (std::size_t mode = 0; mode < merge_.size(); ++mode) {
        if (merge_[mode]->isChecked()) out.merge_mode = static_cast<int>(mode);
    }
    out.filter = filter_->filter();
    return out;
}

std::optional<ImportChoice> run_import_dialog(QWidget* parent, const exchange::ItemFilter& filter) {
    // Held by a guard: the nested event loop may close the parent, and the dialog with it.
    QPointer<ImportDialog> dialog = new ImportDialog(filter, parent);
    const int result = dialog->exec();
    if (dialog.isNull()) return std::nullopt;
    std::optional<ImportChoice> out;
    if (result == QDialog::Accepted) out = dialog->choice();
    delete dialog.data();
    return out;
}

}  // namespace tarnvelox::ui
