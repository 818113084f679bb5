#include "ui/dialogs/upgrade_wizard.h"

#include <QApplication>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QStackedWidget>
#include <QStyle>
#include <QVBoxLayout>
#include <algorithm>
#include <filesystem>
#include <utility>

#include "app/product.h"

namespace tarnvelox::ui {

namespace {

constexpr const char* kWizardCaption = "Tarnvelox Upgrade Wizard";
constexpr const char* kConnecting = "Connecting to Host. Please Wait.........";
constexpr const char* kDownloading = "Downloading Upgrade File. Please Wait.........";
// The picture beside every page, at a size that leaves the texts most of the width.
constexpr int kPictureSize = 64;
// The page texts wrap at this width, so the wizard keeps one size from page to page.
constexpr int kTextWidth = 420;
// One block of the progress text.
const QChar kBlock(0x2588);

// The texts of pages 1 to 6. Page 5's are filled in with the setup file's place.
const char* const kPageTexts[kWizardPages][3] = {
    {"A new version of Tarnvelox is now available, and you can upgrade your copy at this time.",
     "This wizard will guide you through the upgrade procedure.",
     "Make sure that you are connected to the internet and click the 'NEXT' button below to "
     "continue."},
    {"To continue with the automated Installation click the NEXT button to continue.",
     "If you wish to install the latest version at a later date,  on a different computer,  or "
     "have had problems with the Automated installation in the past, you can choose to "
     "download and install the setup file manually by clicking the DOWNLOAD button.",
     ""},
    {"Tarnvelox will now download the installation file.", "Click NEXT to begin the transfer.",
     ""},
    {"Downloading Setup File. Please wait.........", "", ""},
    {"Tarnvelox  has finished downloading the setup file. It is saved as:\n%1",
     "Install it from there; after it completes, you will need to re-start the program.",
     "Click NEXT to open its folder."},
    {"Tarnvelox was not able to complete the upgrade.",
     "You will need to download the setup file and install it manually. ",
     "Click NEXT to continue......"},
};

QString joined_texts(int page) {
    QStringList lines;
    for (const char* text : kPageTexts[page - 1]) {
        if (*text != '\0') lines << text;
    }
    return lines.join("\n\n");
}

QPushButton* add_button(QHBoxLayout* row, const QString& text, QWidget* parent) {
    auto* button = new QPushButton(text, parent);
    button->setAccessibleName(QString(text).remove('&'));
    button->setAutoDefault(false);
    row->addWidget(button);
    return button;
}

QLabel* add_value(QFormLayout* form, const QString& name, const QString& value, QWidget* parent) {
    auto* field = new QLabel(value, parent);
    field->setAccessibleName(name);
    form->addRow(name, field);
    return field;
}

}  // namespace

UpgradeWizard::UpgradeWizard(UpgradeWizardHooks hooks, QWidget* parent)
    : QDialog(parent), hooks_(std::move(hooks)) {
    setWindowTitle(kWizardCaption);
    setAccessibleName(kWizardCaption);
    auto* layout = new QVBoxLayout(this);
    auto* body = new QHBoxLayout;
    auto* picture = new QLabel(this);
    QIcon icon = QApplication::windowIcon();
    if (icon.isNull()) icon = style()->standardIcon(QStyle::SP_DriveNetIcon);
    picture->setPixmap(icon.pixmap(kPictureSize, kPictureSize));
    picture->setAlignment(Qt::AlignTop);
    body->addWidget(picture);
    auto* column = new QVBoxLayout;
    auto* product = new QLabel(app::kProductName, this);
    QFont bold = product->font();
    bold.setBold(true);
    bold.setPointSize(bold.pointSize() + 4);
    product->setFont(bold);
    column->addWidget(product);
    pages_ = new QStackedWidget(this);
    for (int page = 1; page <= kWizardPages; ++page) {
        auto* sheet = new QWidget(pages_);
        auto* sheet_layout = new QVBoxLayout(sheet);
        sheet_layout->setContentsMargins(0, 0, 0, 0);
        QLabel* text = new QLabel(joined_texts(page), sheet);
        text->setWordWrap(true);
        text->setFixedWidth(kTextWidth);
        text->setAlignment(Qt::AlignTop | Qt::AlignLeft);
        text->setTextInteractionFlags(Qt::TextSelectableByMouse);
        sheet_layout->addWidget(text);
        texts_[page - 1] = text;
        if (page == 2) {
            auto* row = new QHBoxLayout;
            row->addStretch();
            download_ = add_button(row, "&Download >", sheet);
            sheet_layout->addLayout(row);
        } else if (page == kDownloadPage) {
            auto* form = new QFormLayout;
            expected_ = add_value(form, "Expected size:", "Unknown", sheet);
            received_ = add_value(form, "Bytes received:", "0", sheet);
            progress_ = add_value(form, "Progress:", "", sheet);
            sheet_layout->addLayout(form);
        }
        sheet_layout->addStretch();
        pages_->addWidget(sheet);
    }
    column->addWidget(pages_);
    body->addLayout(column);
    layout->addLayout(body);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    back_ = add_button(buttons, "< &Back", this);
    cancel_ = add_button(buttons, "&Cancel", this);
    next_ = add_button(buttons, "&Next >", this);
    next_->setDefault(true);
    layout->addLayout(buttons);

    connect(next_, &QPushButton::clicked, this, &UpgradeWizard::next);
    connect(back_, &QPushButton::clicked, this, &UpgradeWizard::back);
    connect(cancel_, &QPushButton::clicked, this, &UpgradeWizard::cancel);
    connect(download_, &QPushButton::clicked, this, [this] {
        if (hooks_.open_download_page) hooks_.open_download_page();
    });
    // Escape and the window's close box cancel, as "&Cancel" does.
    connect(this, &QDialog::rejected, this, [this] {
        if (page_ != 0 && page_ != kWizardFinished) cancel();
    });
    go_to(1);
}

QString UpgradeWizard::page_text(int page) const {
    if (page < 1 || page > kWizardPages) return {};
    return texts_[page - 1]->text();
}

void UpgradeWizard::go_to(int page) {
    page_ = page;
    pages_->setCurrentIndex(page - 1);
    // No way back from the first page or from what follows the transfer.
    back_->setEnabled(page != 1 && page != 5 && page != 6);
    next_->setEnabled(page != kDownloadPage);
    setWindowTitle(page == kDownloadPage ? kConnecting : kWizardCaption);
    if (page != kDownloadPage) return;
    expected_bytes_ = 0;
    expected_->setText("Unknown");
    received_->setText("0");
    progress_->clear();
    transfer_running_ = true;
    if (hooks_.start_download) hooks_.start_download();
}

void UpgradeWizard::next() {
    switch (page_) {
        case 5: {
            const std::string folder = std::filesystem::path(setup_path_).parent_path().string();
            const bool opened = hooks_.open_folder && hooks_.open_folder(folder);
            if (opened) {
                end(kWizardFinished);
            } else {
                go_to(6);
            }
            return;
        }
        case 6:
            if (hooks_.open_download_page) hooks_.open_download_page();
            end(kWizardFinished);
            return;
        default:
            if (page_ >= 1 && page_ < kDownloadPage) go_to(page_ + 1);
            return;
    }
}

void UpgradeWizard::back() {
    if (page_ == kDownloadPage) {
        if (transfer_running_ && hooks_.stop_download) hooks_.stop_download();
        transfer_running_ = false;
        go_to(2);
    } else if (page_ == 2 || page_ == 3) {
        go_to(page_ - 1);
    }
}

void UpgradeWizard::cancel() {
    if (transfer_running_ && hooks_.stop_download) hooks_.stop_download();
    transfer_running_ = false;
    end(0);
}

void UpgradeWizard::end(int page) {
    page_ = page;
    if (page == kWizardFinished) {
        accept();
    } else if (isVisible()) {
        reject();
    }
}

void UpgradeWizard::download_started(int64_t expected_size) {
    if (page_ != kDownloadPage) return;
    expected_bytes_ = expected_size > 0 ? expected_size : 0;
    expected_->setText(expected_bytes_ > 0 ? QString::number(expected_bytes_) : "Unknown");
    setWindowTitle(kDownloading);
}

void UpgradeWizard::download_progress(int64_t received) {
    if (page_ != kDownloadPage) return;
    setWindowTitle(kDownloading);
    received_->setText(QString::number(received));
    if (expected_bytes_ <= 0) return;
    const int64_t blocks =
        std::min<int64_t>(kProgressBlocks, received * kProgressBlocks / expected_bytes_);
    progress_->setText(QString(static_cast<int>(blocks), kBlock));
}

void UpgradeWizard::download_finished(const std::string& path) {
    transfer_running_ = false;
    setup_path_ = path;
    texts_[4]->setText(joined_texts(5).arg(QString::fromStdString(path)));
    go_to(5);
}

void UpgradeWizard::download_failed() {
    transfer_running_ = false;
    setWindowTitle(kWizardCaption);
}

}  // namespace tarnvelox::ui
