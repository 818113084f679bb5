#pragma once

// The Export dialog ("Export": All, Selected Only, Cancel) and the "Filter" group it shares with
// the Import dialog. Both only edit values: the caller gets what was chosen and does the export
// or import itself. The dialogs are modal and owned by the caller (or by Qt through `parent`).

#include <QDialog>
#include <QGroupBox>
#include <array>
#include <optional>

#include "exchange/list_filter.h"

class QLineEdit;
class QPushButton;

namespace tarnvelox::ui {

// "Filter": the three filter texts, each a labelled line edit. A field left empty is a filter
// that is not set.
class FilterGroup : public QGroupBox {
    Q_OBJECT

  public:
    enum Field { kDomains, kMustContain, kMustNotContain, kFieldCount };

    FilterGroup(const exchange::ItemFilter& filter, QWidget* parent);
    // The texts as edited; an emptied field clears its filter.
    [[nodiscard]] exchange::ItemFilter filter() const;

    QLineEdit* field(Field which) const { return fields_[static_cast<std::size_t>(which)]; }

  private:
    std::array<QLineEdit*, kFieldCount> fields_{};
};

// What "All" and "Selected Only" answer; Cancel answers nothing.
struct ExportChoice {
    bool selected_only = false;   // "Selected Only": the selected rows, else every stored item
    exchange::ItemFilter filter;  // the project's filter texts as edited
};

class ExportDialog : public QDialog {
    Q_OBJECT

  public:
    ExportDialog(const exchange::ItemFilter& filter, QWidget* parent);
    // Meaningful once the dialog was accepted.
    [[nodiscard]] ExportChoice choice() const;

    QPushButton* all_button() const { return all_; }
    QPushButton* selected_button() const { return selected_; }
    QPushButton* cancel_button() const { return cancel_; }
    FilterGroup* filter_group() const { return filter_; }

  private:
    FilterGroup* filter_ = nullptr;
    QPushButton* all_ = nullptr;
    QPushButton* selected_ = nullptr;
    QPushButton* cancel_ = nullptr;
    bool selected_only_ = false;
};

// Runs the Export dialog modally over `parent`, its fields showing `filter`: the choice, or
// nothing when it was cancelled.
[[nodiscard]] std::optional<ExportChoice> run_export_dialog(QWidget* parent,
                                                            const exchange::ItemFilter& filter);

}  // namespace tarnvelox::ui
