#pragma once

// The Tarnvelox Upgrade Wizard: six pages with "< &Back", "&Cancel" and "&Next >" that lead
// from the announcement of a new version through the download of its setup file. The setup
// file is never run: the last step shows where it was saved and opens its folder. The wizard
// only shows pages; what leaves the dialog (the transfer, the browser) goes through the hooks
// its owner gives, each of which may be left empty.

#include <QDialog>
#include <array>
#include <cstdint>
#include <functional>
#include <string>

class QLabel;
class QPushButton;
class QStackedWidget;

namespace tarnvelox::ui {

struct UpgradeWizardHooks {
    std::function<void()> open_download_page;  // "&Download >" on page 2, and the end of page 6
    std::function<void()> start_download;      // entering page 4
    std::function<void()> stop_download;       // leaving page 4 or the wizard while it runs
    // Next on page 5: opens the folder holding the setup file; false when it could not.
    std::function<bool(const std::string& folder)> open_folder;
};

inline constexpr int kWizardPages = 6;
inline constexpr int kDownloadPage = 4;     // the page that shows the transfer
inline constexpr int kWizardFinished = 8;   // the page number once the wizard has ended well
inline constexpr int kProgressBlocks = 35;  // the progress text's full length

class UpgradeWizard : public QDialog {
    Q_OBJECT

  public:
    UpgradeWizard(UpgradeWizardHooks hooks, QWidget* parent);

    // The page shown (1 to 6), 0 once cancelled, kWizardFinished once ended by Next.
    [[nodiscard]] int page() const { return page_; }
    // What the transfer reports while page 4 shows: the expected size (0 or less: unknown),
    // then the bytes received so far.
    void download_started(int64_t expected_size);
    void download_progress(int64_t received);
    // The setup file is complete at `path`: page 5 says where it is.
    void download_finished(const std::string& path);
    // The transfer has ended without a file: page 4 stays, Back and Cancel leave it.
    void download_failed();

    QPushButton* back_button() const { return back_; }
    QPushButton* cancel_button() const { return cancel_; }
    QPushButton* next_button() const { return next_; }
    QPushButton* download_button() const { return download_; }
    QLabel* expected_size() const { return expected_; }
    QLabel* bytes_received() const { return received_; }
    QLabel* progress() const { return progress_; }
    // The texts of page `page` (1 to 6), joined by newlines.
    [[nodiscard]] QString page_text(int page) const;

  private:
    void go_to(int page);
    void next();
    void back();
    void cancel();
    void end(int page);

    UpgradeWizardHooks hooks_;
    int page_ = 1;
    bool transfer_running_ = false;
    int64_t expected_bytes_ = 0;
    std::string setup_path_;
    QStackedWidget* pages_ = nullptr;
    std::array<QLabel*, kWizardPages> texts_{};
    QLabel* expected_ = nullptr;
    QLabel* received_ = nullptr;
    QLabel* progress_ = nullptr;
    QPushButton* download_ = nullptr;
    QPushButton* back_ = nullptr;
    QPushButton* cancel_ = nullptr;
    QPushButton* next_ = nullptr;
};

}  // namespace tarnvelox::ui
