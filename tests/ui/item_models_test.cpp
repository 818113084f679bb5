// The list views' model under Qt's model tester: rows appended, trimmed and deleted in any
// interleaving must reach a view as consistent batches, never read a freed record, and keep a
// selection on the rows it was on.

#include "ui/item_models.h"

#include <gtest/gtest.h>

#include <QAbstractItemModelTester>
#include <QApplication>
#include <QItemSelectionModel>
#include <QSignalSpy>
#include <random>

#include "fakes/recording_shell.h"
#include "harvest/list_rows.h"

namespace tarnvelox::ui {
namespace {

// Forwards the core's row notices to the model, as the main window does.
class ModelShell : public platform::NullShell {
  public:
    explicit ModelShell(ItemListModel& model) : model_(model) {}
    void link_row_added(const store::ItemRecord&) override { model_.row_added(); }
    void link_row_changed(const store::ItemRecord& rec) override { model_.row_changed(rec); }
    void link_row_removing(int row) override { model_.row_removing(row); }
    void link_row_removed(int row) override { model_.row_removed(row); }

  private:
    ItemListModel& model_;
};

store::RecordPtr link(int n, int32_t status = 0) {
    store::RecordPtr rec = store::clear_record();
    rec->url = std::string("http://h.example/") + std::to_string(n);
    rec->title = std::string("T").append(std::to_string(n));
    rec->kind = store::KIND_PAGE;
    rec->file_offset = n;
    rec->status = status;
    return rec;
}

std::string url_at(const ItemListModel& model, int row) {
    return model.index(row, 1).data().toString().toStdString();
}

TEST(ItemListModelTest, TrimmingAndAppendingReachTheViewAsConsistentBatches) {
    store::ItemList list;
    harvest::SearchTexts search;
    ItemListModel model(list, ItemListModel::Kind::Links, search);
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::Fatal);
    QItemSelectionModel selection(&model);
    ModelShell shell(model);
    std::mt19937 rng(7);
    int next = 0;
    for (int round = 0; round < 40; ++round) {
        for (int k = 0; k < 25; ++k) {
            const int32_t status = rng() % 2 == 0 ? store::STATUS_VISITED : 0;
            harvest::add_link_row(list, shell, 30, list.append(link(next++, status)));
        }
        if (round == 10) {
            // Select a row that stays (not visited, so trimming never takes it).
            model.flush();
            for (int row = 0; row < model.rowCount(); ++row) {
                if ((model.record(row)->status & store::STATUS_VISITED) == 0) {
                    selection.select(model.index(row, 0),
                                     QItemSelectionModel::Select | QItemSelectionModel::Rows);
                    break;
                }
            }
        }
        model.flush();
        ASSERT_EQ(model.rowCount(), list.size());
        for (int row = 0; row < model.rowCount(); ++row) {
            ASSERT_EQ(url_at(model, row), *list.at(row).url) << row;
        }
    }
    ASSERT_EQ(selection.selectedRows().size(), 1);
    const store::ItemRecord* chosen = model.record(selection.selectedRows()[0].row());
    ASSERT_NE(chosen, nullptr);
    EXPECT_EQ(chosen->status & store::STATUS_VISITED, 0);
}

TEST(ItemListModelTest, RemovedRowShowsEmptyUntilTheBatchAndIsNeverRead) {
    store::ItemList list;
    harvest::SearchTexts search;
    ItemListModel model(list, ItemListModel::Kind::Links, search);
    ModelShell shell(model);
    for (int i = 0; i < 4; ++i) harvest::add_link_row(list, shell, 100, list.append(link(i)));
    model.flush();
    // Row 1 goes (as a delete would take it): the view still has four rows until the batch.
    shell.link_row_removing(1);
    (void)list.unlink(list.at(1));
    shell.link_row_removed(1);
    EXPECT_EQ(model.rowCount(), 4);
    EXPECT_EQ(model.record(1), nullptr);
    EXPECT_FALSE(model.index(1, 1).data().isValid());
    EXPECT_EQ(url_at(model, 2), "http://h.example/2");
    // A change on a record after the removed one repaints the row that shows it (view row 2,
    // while the removed row still shows), and only that row.
    QSignalSpy repainted(&model, &QAbstractItemModel::dataChanged);
    model.row_changed(list.at(1));  // record 2, now at list position 1
    ASSERT_TRUE(repainted.wait(1000));
    ASSERT_EQ(repainted.size(), 1);
    const QModelIndex top = repainted[0][0].value<QModelIndex>();
    const QModelIndex bottom = repainted[0][1].value<QModelIndex>();
    EXPECT_EQ(top.row(), 2);
    EXPECT_EQ(bottom.row(), 2);
    model.flush();
    EXPECT_EQ(model.rowCount(), 3);
    EXPECT_EQ(url_at(model, 1), "http://h.example/2");

    // The header click switches column 0 to file names and back.
    model.toggle_file_names();
    EXPECT_EQ(model.index(0, 0).data().toString(), "0");
    model.toggle_file_names();
    EXPECT_EQ(model.index(0, 0).data().toString(), "T0");
}

}  // namespace
}  // namespace tarnvelox::ui

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
