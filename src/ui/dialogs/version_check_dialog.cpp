#include "ui/dialogs/version_check_dialog.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>
#include <cstdio>

#include "app/product.h"

namespace tarnvelox::ui {

namespace {

// Versions are written as whole hundredths: 100 is this copy's 1.00.
constexpr int32_t kOwnVersion = 100;
// This copy's build: a version equal to ours is an upgrade only with a later build.
constexpr int32_t kOwnBuild = 5;
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

std::string latest_version_text(int32_t version) {
    if (version <= kOwnVersion) return {};
    // The first digit, a ".", then the rest: 101 gives 1.01.
    const std::string digits = std::to_string(version);
    return std::string(app::kProductName) + " v" + digits.substr(0, 1) + "." + digits.substr(1);
}

std::string latest_build_text(int32_t build) {
    if (build == 0) return {};
    char text[32];
    std::snprintf(text, sizeof text, "Build: %03i", static_cast<int>(build));
    return text;
}

bool upgrade_offered(const VersionCheckValues& values) {
    if (values.setup_url.empty()) return false;
    return values.latest_version > kOwnVersion ||
           (values.latest_version == kOwnVersion && values.latest_build > kOwnBuild);
}

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

void VersionCheckDialog::show_results(const VersionCheckValues& values) {
    checking_ = false;
    latest_version_->setText(QString::fromStdString(latest_version_text(values.latest_version)));
    latest_build_->setText(QString::fromStdString(latest_build_text(values.latest_build)));
    setWindowTitle(kVersionCheckCaption);
    upgrade_->setEnabled(upgrade_offered(values));
    ok_->setEnabled(true);
}

}  // namespace tarnvelox::ui
