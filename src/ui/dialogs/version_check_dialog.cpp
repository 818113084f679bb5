#include "ui/dialogs/version_check_dialog.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "app/product.h"

namespace tarnvelox::ui {

namespace {

// The two latest-version fields are wide enough for the marquee's text.
constexpr int kFieldWidth = 180;

QLabel* add_field(QGridLayout* grid, int row, int column, const QString& name, QWidget* parent) {
    auto* field = new QLabel(parent);
    field->setAccessibleName(name);
    field->setFrameShape(QFrame::StyledPanel);
    field->setMinimumWidth(kFieldWidth);
    grid->addWidget(field, row, column);
    return field;
}

QPushButton* add_button(QHBoxLayout* row, const QString& text, QWidget* parent) {
    auto* button = new QPushButton(text, parent);
    button->setAccessibleName(text);
    button->setAutoDefault(false);
    row->addWidget(button);
    return button;
}

}  // namespace

VersionCheckDialog::VersionCheckDialog(QWidget* parent) : QDialog(parent) {
    setWindowTitle(kVersionCheckCaption);
    setAccessibleName(windowTitle());
    auto* layout = new QVBoxLayout(this);
    auto* grid = new QGridLayout;
    const QString yours = "Your version:";
    const QString latest = "Latest version:";
    grid->addWidget(new QLabel(yours, this), 0, 0);
    grid->addWidget(new QLabel(latest, this), 1, 0);
    your_version_ = add_field(grid, 0, 1, yours, this);
    your_build_ = add_field(grid, 0, 2, "Build", this);
    latest_version_ = add_field(grid, 1, 1, latest, this);
    latest_build_ = add_field(grid, 1, 2, "Latest build", this);
    your_version_->setText(QString("%1 v%2").arg(app::kProductName, app::kProductVersion));
    your_build_->setText(QString("Build: ") + app::kBuildNumber);
    layout->addLayout(grid);

    auto* buttons = new QHBoxLayout;
    upgrade_ = add_button(buttons, "Upgrade >", this);
    history_ = add_button(buttons, "History >", this);
    buttons->addStretch();
    ok_ = add_button(buttons, "OK", this);
    cancel_ = add_button(buttons, "Cancel", this);
    ok_->setDefault(true);
    layout->addLayout(buttons);
    upgrade_->setEnabled(false);

    connect(ok_, &QPushButton::clicked, this, &QDialog::accept);
    connect(cancel_, &QPushButton::clicked, this, &QDialog::reject);
    connect(history_, &QPushButton::clicked, this, &VersionCheckDialog::history_requested);
    connect(upgrade_, &QPushButton::clicked, this, [this] {
        accept();
        Q_EMIT upgrade_requested();
    });
}

void VersionCheckDialog::show_checking() {
    checking_ = true;
    setWindowTitle(kConnectingCaption);
    ok_->setEnabled(false);
    upgrade_->setEnabled(false);
    latest_version_->clear();
    latest_build_->clear();
}

void VersionCheckDialog::show_activity(const QString& text) {
    if (!checking_) return;
    latest_version_->setText(text);
    latest_build_->setText(text);
}

void VersionCheckDialog::show_results(const update::VendorState& values) {
    checking_ = false;
    latest_version_->setText(QString::fromStdString(update::latest_version_text(values)));
    latest_build_->setText(QString::fromStdString(update::latest_build_text(values)));
    setWindowTitle(kVersionCheckCaption);
    upgrade_->setEnabled(update::upgrade_available(values));
    ok_->setEnabled(true);
}

}  // namespace tarnvelox::ui
