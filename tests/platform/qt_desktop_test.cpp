// The Qt file dialog under the offscreen platform: the file-type list, the type chosen and the
// working folder. A browser program started for a hand-off, with the arguments it gets.

#include "platform/qt/qt_desktop.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QTimer>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <thread>

#include "browser/browser.h"
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

// The text of the file at `path` once it is there, or empty after a few seconds.
std::string wait_for_file(const std::string& path) {
    for (int tries = 0; tries < 500 && !std::filesystem::exists(path); ++tries) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    std::ostringstream text;
    text << std::ifstream(path).rdbuf();
    return text.str();
}

TEST(QtDesktopTest, TheBrowserProgramGetsTheUrlAsItIsWithoutAShell) {
    tarnvelox::testing::TempDir dir;
    // A browser of the Firefox family that writes its arguments, one a line, beside itself.
    const std::string program = dir.file("firefox");
    std::ofstream(program) << "#!/bin/sh\n"
                              "for a in \"$@\"; do printf '%s\\n' \"$a\"; done > \"$0.tmp\"\n"
                              "mv \"$0.tmp\" \"$0.args\"\n";
    std::filesystem::permissions(program, std::filesystem::perms::owner_all);
    std::ofstream(dir.file("page.htm")) << "<p>";
    QtDesktop desktop(nullptr);
    browser::Handoff handoff(desktop, dir.path());
    const std::string url = "http://127.0.0.1/a b;touch " + dir.file("shell") + "&$(id)";
    const std::vector<std::pair<std::string, std::string>> cases = {
        {url, "--new-window\n" + url + "\n"},
        {"page.htm", "--new-window\nfile://" + dir.path() + "/page.htm\n"},
    };
    for (const auto& [target, expected] : cases) {
        SCOPED_TRACE(target);
        std::filesystem::remove(program + ".args");
        EXPECT_EQ(handoff.open_in_browser(target, program, 3), 1);
        EXPECT_EQ(wait_for_file(program + ".args"), expected);
    }
    EXPECT_FALSE(std::filesystem::exists(dir.file("shell")));
}

}  // namespace
}  // namespace tarnvelox::platform::qt

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
