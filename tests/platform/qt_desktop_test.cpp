// The Qt file dialog under the offscreen platform: the file-type list, the type chosen and the
// working folder.

#include "platform/qt/qt_desktop.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QTimer>
#include <functional>
#include <string>

#include "store/temp_dir.h"

namespace tarnvelox::platform::qt {
namespace {

// Runs `act` on the file dialog once it is open; a dialog still open after a few seconds is
// rejected, so a test never waits for ever.
void when_dialog_opens(const std::function<void(QFileDialog&)>& act) {
    auto* poll = new QTimer;
    QObject::connect(poll, &QTimer::timeout, [poll, act] {
        auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
        if (dialog == nullptr) return;
        poll->deleteLater();
        act(*dialog);
    });
    poll->start(10);
    QTimer::singleShot(5000, [] {
        if (QWidget* open = QApplication::activeModalWidget()) open->close();
    });
}

TEST(QtDesktopTest, FileDialogShowsTheTypesAndAnswersThePositionChosen) {
    tarnvelox::testing::TempDir dir;
    const QString working_folder = QDir::currentPath();
    FileDialogRequest request;
    request.mode = FileDialogRequest::Mode::Save;
    request.caption = "Export";
    request.start = dir.path();
    request.types = {{" Text Address List (*.txt)", "*.txt"},
                     {" Netscape Address Book File (*.htm)", "*.htm;*.html"}};
    request.selected_type = 1;
    QStringList shown;
    QString preselected;
    when_dialog_opens([&](QFileDialog& dialog) {
        shown = dialog.nameFilters();
        preselected = dialog.selectedNameFilter();
        dialog.selectNameFilter(shown.value(1));
        dialog.selectFile(QString::fromStdString(dir.file("out.txt")));
        QDir::setCurrent(QDir::rootPath());  // as a dialog browsing elsewhere might
        static_cast<QDialog&>(dialog).accept();
    });
    QtDesktop desktop(nullptr);
    const std::optional<FileDialogAnswer> answer = desktop.file_dialog(request);

    ASSERT_TRUE(answer.has_value());
    EXPECT_EQ(answer->path, dir.file("out.txt"));
    EXPECT_EQ(answer->type, 2);
    EXPECT_EQ(QDir::currentPath(), working_folder);
    EXPECT_EQ(shown, (QStringList{"Text Address List (*.txt) (*.txt)",
                                  "Netscape Address Book File (*.htm) (*.htm *.html)"}));
    EXPECT_EQ(preselected.toStdString(), "Text Address List (*.txt)");

    when_dialog_opens([](QFileDialog& dialog) { dialog.reject(); });
    EXPECT_FALSE(desktop.file_dialog(request).has_value());
}

}  // namespace
}  // namespace tarnvelox::platform::qt

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
