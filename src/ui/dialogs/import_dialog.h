#pragma once

// The Import dialog ("Import": OK, Cancel): the merge rule for addresses already in the project,
// with the chosen rule's help text beside the buttons, and the "Filter" group of the Export
// dialog. It only edits values; the caller asks for the file and runs the import.

#include <QDialog>
#include <array>
#include <optional>

#include "exchange/list_filter.h"
#include "exchange/merge_modes.h"

class QLabel;
class QPushButton;
class QRadioButton;
class QTabWidget;

namespace tarnvelox::ui {

class FilterGroup;

// What OK answers; Cancel answers nothing.
struct ImportChoice {
    int merge_mode = exchange::kMergeAddUnique;  // kMergeAddUnique, kMergeDeleteDuplicates or
                                                 // kMergeDeleteOnly
    exchange::ItemFilter filter;                 // the project's filter texts as edited
};

class ImportDialog : public QDialog {
    Q_OBJECT

  public:
    ImportDialog(const exchange::ItemFilter& filter, QWidget* parent);
    // Meaningful once the dialog was accepted.
    [[nodiscard]] ImportChoice choice() const;

    QRadioButton* merge_button(int mode) const { return merge_[static_cast<std::size_t>(mode)]; }
    QLabel* merge_help() const { return help_; }
    QTabWidget* tabs() const { return tabs_; }
    FilterGroup* filter_group() const { return filter_; }
    QPushButton* ok_button() const { return ok_; }
    QPushButton* cancel_button() const { return cancel_; }

  private:
    void show_help(int mode);

    std::array<QRadioButton*, exchange::kMergeModeButtons.size()> merge_{};
    QLabel* help_ = nullptr;
    QTabWidget* tabs_ = nullptr;
    FilterGroup* filter_ = nullptr;
    QPushButton* ok_ = nullptr;
    QPushButton* cancel_ = nullptr;
};

// Runs the Import dialog modally over `parent`, its fields showing `filter`: the choice, or
// nothing when it was cancelled.
[[nodiscard]] std::optional<ImportChoice> run_import_dialog(QWidget* parent,
                                                            const exchange::ItemFilter& filter);

}  // namespace tarnvelox::ui
