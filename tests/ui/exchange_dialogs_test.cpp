// Widget tests of the Export and Import dialogs under the offscreen platform: what they show on
// opening, that the merge rule's help follows the buttons, and what each way of closing answers.

#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTabWidget>
#include <QTest>
#include <QTimer>
#include <functional>
#include <vector>

#include "ui/dialogs/export_dialog.h"
#include "ui/dialogs/import_dialog.h"

namespace tarnvelox::ui {
namespace {

const exchange::ItemFilter kProjectFilter{"au,nz", "webmaster@*", "root@*"};

// The label whose buddy is `field`, as a screen reader and Alt+letter find it.
const QLabel* label_of(const QWidget* field) {
    for (const QLabel* label : field->parentWidget()->findChildren<QLabel*>()) {
        if (label->buddy() == field) return label;
    }
    return nullptr;
}

void expect_filter_fields(const FilterGroup* group, const exchange::ItemFilter& filter) {
    EXPECT_EQ(group->title(), "Filter");
    const std::array<std::pair<QString, std::string>, 3> rows = {{
        {"Limit to Domain: (eg: au,nz,com)", filter.domains},
        {"Must Contain: (eg: webmaster@*)", filter.must_contain},
        {"Must not contain: (eg: root@*)", filter.must_not_contain},
    }};
    for (std::size_t i = 0; i < rows.size(); ++i) {
        SCOPED_TRACE(rows[i].first.toStdString());
        const QLineEdit* field = group->field(static_cast<FilterGroup::Field>(i));
        const QLabel* label = label_of(field);
        ASSERT_NE(label, nullptr);
        EXPECT_EQ(label->text().remove('&'), rows[i].first);
        EXPECT_EQ(field->accessibleName(), rows[i].first);
        EXPECT_EQ(field->text().toStdString(), rows[i].second);
    }
}

// Edits the filter the way every closing case below expects it back: the domain list cleared,
// the must-not pattern replaced.
void edit_filter(FilterGroup* group) {
    group->field(FilterGroup::kDomains)->clear();
    group->field(FilterGroup::kMustNotContain)->setText("abuse@*");
}

void expect_edited_filter(const exchange::ItemFilter& filter) {
    EXPECT_EQ(filter.domains, "");
    EXPECT_EQ(filter.must_contain, "webmaster@*");
    EXPECT_EQ(filter.must_not_contain, "abuse@*");
}

// Each button's text, and that a screen reader says the same.
void expect_buttons(const std::vector<std::pair<const QPushButton*, QString>>& buttons) {
    for (const auto& [button, text] : buttons) {
        EXPECT_EQ(button->text(), text);
        EXPECT_EQ(button->accessibleName(), text);
    }
}

// Bounds a dialog that `act` failed to close: it is cancelled then, and the test fails on the
// missing answer instead of hanging.
constexpr int kCloseGuardMs = 5000;

// Runs `open` (which runs a dialog modally) and does `act` on the dialog once it is shown.
template <typename Dialog, typename Open>
auto with_modal(Open open, const std::function<void(Dialog&)>& act) {
    QTimer::singleShot(0, [&] {
        auto* dialog = qobject_cast<Dialog*>(QApplication::activeModalWidget());
        ASSERT_NE(dialog, nullptr);
        act(*dialog);
    });
    QObject guard;  // its end cancels the timer below
    QTimer::singleShot(kCloseGuardMs, &guard, [] {
        ADD_FAILURE() << "the dialog stayed open";
        if (auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget())) {
            dialog->reject();
        }
    });
    return open();
}

// The controls Tab visits from the first focus on, by accessible name (class for the tab bar),
// joined by " | ".
std::string tab_cycle(QDialog& dialog, int steps) {
    dialog.show();
    dialog.activateWindow();  // the keyboard focus goes to active windows only
    for (int spin = 0; spin < 100 && QApplication::activeWindow() != &dialog; ++spin) {
        QApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    QStringList seen;
    for (int i = 0; i < steps && QApplication::focusWidget() != nullptr; ++i) {
        QWidget* focus = QApplication::focusWidget();
        seen << (focus->accessibleName().isEmpty() ? focus->metaObject()->className()
                                                   : focus->accessibleName());
        QTest::keyClick(focus, Qt::Key_Tab);
    }
    return seen.join(" | ").toStdString();
}

TEST(ExchangeDialogsTest, TabVisitsTheControlsInReadingOrder) {
    const std::string fields =
        "Limit to Domain: (eg: au,nz,com) | Must Contain: (eg: webmaster@*) | "
        "Must not contain: (eg: root@*)";
    ExportDialog export_dialog(kProjectFilter, nullptr);
    EXPECT_EQ(tab_cycle(export_dialog, 7),
              fields + " | All | Selected Only | Cancel | Limit to Domain: (eg: au,nz,com)");
    ImportDialog import_dialog(kProjectFilter, nullptr);
    EXPECT_EQ(tab_cycle(import_dialog, 8),
              "QTabBar | Add Unique, Skip Duplicates | " + fields + " | OK | Cancel | QTabBar");
}

TEST(ExportDialogTest, OpensWithItsButtonsAndTheProjectFilter) {
    ExportDialog dialog(kProjectFilter, nullptr);
    EXPECT_EQ(dialog.windowTitle(), "Export");
    expect_buttons({{dialog.all_button(), "All"},
                    {dialog.selected_button(), "Selected Only"},
                    {dialog.cancel_button(), "Cancel"}});
    EXPECT_TRUE(dialog.all_button()->isDefault());
    expect_filter_fields(dialog.filter_group(), kProjectFilter);
}

TEST(ExportDialogTest, EachWayOfClosingAnswersAsItsButton) {
    struct Row {
        const char* name;
        std::function<void(ExportDialog&)> close;
        bool answers;
        bool selected_only;
    };
    const Row rows[] = {
        {"All", [](ExportDialog& d) { d.all_button()->click(); }, true, false},
        {"Selected Only", [](ExportDialog& d) { d.selected_button()->click(); }, true, true},
        {"Enter in a field",
         [](ExportDialog& d) {
             QTest::keyClick(d.filter_group()->field(FilterGroup::kMustContain), Qt::Key_Return);
         },
         true, false},
        {"Cancel", [](ExportDialog& d) { d.cancel_button()->click(); }, false, false},
        {"Escape", [](ExportDialog& d) { QTest::keyClick(&d, Qt::Key_Escape); }, false, false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const std::optional<ExportChoice> choice =
            with_modal<ExportDialog>([] { return run_export_dialog(nullptr, kProjectFilter); },
                                     [&](ExportDialog& d) {
                                         edit_filter(d.filter_group());
                                         row.close(d);
                                     });
        ASSERT_EQ(choice.has_value(), row.answers);
        if (!choice) continue;
        EXPECT_EQ(choice->selected_only, row.selected_only);
        expect_edited_filter(choice->filter);
    }
}

TEST(ImportDialogTest, OpensOnSkipDuplicatesWithItsHelpAndTheProjectFilter) {
    ImportDialog dialog(kProjectFilter, nullptr);
    EXPECT_EQ(dialog.windowTitle(), "Import");
    ASSERT_EQ(dialog.tabs()->count(), 1);
    EXPECT_EQ(dialog.tabs()->tabText(0), "Import Options");
    for (int mode = 0; mode < 3; ++mode) {
        const auto i = static_cast<std::size_t>(mode);
        EXPECT_EQ(dialog.merge_button(mode)->text().toStdString(), exchange::kMergeModeButtons[i]);
        EXPECT_EQ(dialog.merge_button(mode)->isChecked(), mode == exchange::kMergeAddUnique);
    }
    EXPECT_EQ(dialog.merge_help()->text().toStdString(), exchange::kMergeModeHelp[0]);
    expect_buttons({{dialog.ok_button(), "OK"}, {dialog.cancel_button(), "Cancel"}});
    EXPECT_TRUE(dialog.ok_button()->isDefault());
    expect_filter_fields(dialog.filter_group(), kProjectFilter);
}

TEST(ImportDialogTest, HelpTextFollowsTheChosenMergeButton) {
    ImportDialog dialog(kProjectFilter, nullptr);
    dialog.show();
    for (int mode : {exchange::kMergeDeleteOnly, exchange::kMergeDeleteDuplicates,
                     exchange::kMergeAddUnique}) {
        SCOPED_TRACE(mode);
        QTest::mouseClick(dialog.merge_button(mode), Qt::LeftButton);
        EXPECT_EQ(dialog.merge_help()->text().toStdString(),
                  exchange::kMergeModeHelp[static_cast<std::size_t>(mode)]);
        EXPECT_EQ(dialog.choice().merge_mode, mode);
    }
}

TEST(ImportDialogTest, OkAnswersTheMergeModeAndFilterCancelNothing) {
    struct Row {
        const char* name;
        std::function<void(ImportDialog&)> close;
        bool answers;
    };
    const Row rows[] = {
        {"OK", [](ImportDialog& d) { d.ok_button()->click(); }, true},
        {"Enter in a field",
         [](ImportDialog& d) {
             QTest::keyClick(d.filter_group()->field(FilterGroup::kDomains), Qt::Key_Return);
         },
         true},
        {"Cancel", [](ImportDialog& d) { d.cancel_button()->click(); }, false},
        {"Escape", [](ImportDialog& d) { QTest::keyClick(&d, Qt::Key_Escape); }, false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const std::optional<ImportChoice> choice =
            with_modal<ImportDialog>([] { return run_import_dialog(nullptr, kProjectFilter); },
                                     [&](ImportDialog& d) {
                                         d.merge_button(exchange::kMergeDeleteDuplicates)->click();
                                         edit_filter(d.filter_group());
                                         row.close(d);
                                     });
        ASSERT_EQ(choice.has_value(), row.answers);
        if (!choice) continue;
        EXPECT_EQ(choice->merge_mode, exchange::kMergeDeleteDuplicates);
        expect_edited_filter(choice->filter);
    }
}

}  // namespace
}  // namespace tarnvelox::ui

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
