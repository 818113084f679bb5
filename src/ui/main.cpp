// tarnvelox: the desktop program. It works in its data folder ($XDG_DATA_HOME/tarnvelox, or
// ~/.local/share/tarnvelox), where every file keeps its fixed name, and takes no command-line
// options of its own (Qt's, such as -platform, still apply). The demo that ./run starts gives it
// a data folder of its own and, in TARNVELOX_DEMO_URL, the sample site's URL to show.

#include <fcntl.h>
#include <unistd.h>

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QSocketNotifier>
#include <QTabWidget>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <memory>
#include <string>

#include "app/data_folder.h"
#include "app/product.h"
#include "app/settings.h"
#include "base/out_of_memory.h"
#include "platform/qt/qt_desktop.h"
#include "ui/main_window.h"
#include "ui/pages/harvest_page.h"

namespace {

// SIGTERM (a session ending) and SIGINT close the window the ordinary way, so the project and
// the settings are saved: the handler only writes a byte that the event loop then reads. What
// fails then is told on standard error, never in a box.
int g_signal_pipe[2] = {-1, -1};

extern "C" void on_terminate(int) {
    // The interrupted code may be about to read errno after a failed call.
    const int saved_errno = errno;
    const char byte = 1;
    (void)!::write(g_signal_pipe[1], &byte, 1);
    errno = saved_errno;
}

// The engines file that comes with the program: installed beside it, or in the source tree
// when run from the build folder.
std::string shipped_engines() {
    const QString installed =
        QCoreApplication::applicationDirPath() + "/../share/tarnvelox/engines.dat";
    if (QFileInfo::exists(installed)) return QDir::cleanPath(installed).toStdString();
    if (QFileInfo::exists(TARNVELOX_SHARE_DIR "/engines.dat")) {
        return TARNVELOX_SHARE_DIR "/engines.dat";
    }
    return TARNVELOX_SOURCE_DATA_DIR "/engines.dat";
}

// Set only by the demo of ./run: the Harvest tab opens with this starting URL typed in.
constexpr const char* kDemoUrlVariable = "TARNVELOX_DEMO_URL";

}  // namespace

int main(int argc, char** argv) {
    using namespace tarnvelox;
    base::install_out_of_memory_handler();
    QApplication app(argc, argv);
    QApplication::setApplicationName(app::kProductName);
    QApplication::setApplicationVersion(app::kProductVersion);
    QApplication::setDesktopFileName("tarnvelox");

    const std::string folder = app::data_folder(std::getenv("XDG_DATA_HOME"), std::getenv("HOME"));
    std::string error;
    if (!app::prepare_data_folder(folder, shipped_engines(), error) ||
        ::chdir(folder.c_str()) != 0) {
        QMessageBox::critical(
            nullptr, "Error",
            QString::fromStdString(error.empty() ? "Unable to use the folder '" + folder + "'"
                                                 : error));
        return 1;
    }

    platform::qt::QtDesktop desktop(nullptr);
    ui::MainWindow window(desktop, std::string(app::kSettingsFile));
    desktop.set_parent(&window);
    window.start_up();

    std::unique_ptr<QSocketNotifier> terminate;
    // Non-blocking, so a burst of signals can never block the handler; close-on-exec, so a
    // browser started from the window does not inherit it.
    if (::pipe2(g_signal_pipe, O_NONBLOCK | O_CLOEXEC) == 0) {
        terminate = std::make_unique<QSocketNotifier>(g_signal_pipe[0], QSocketNotifier::Read);
        QObject::connect(terminate.get(), &QSocketNotifier::activated, &window, [&window] {
            char byte = 0;
            (void)!::read(g_signal_pipe[0], &byte, 1);
            window.close_on_signal();
        });
        std::signal(SIGTERM, on_terminate);
        std::signal(SIGINT, on_terminate);
    }
    window.show();
    window.post_load();
    if (const char* demo = std::getenv(kDemoUrlVariable); demo != nullptr && *demo != '\0') {
        // After the project is loaded, as if the person had typed the URL.
        const QString url = QString::fromLocal8Bit(demo);
        QMetaObject::invokeMethod(
            &window,
            [&window, url] {
                window.tabs()->setCurrentIndex(ui::kHarvestTab);
                window.harvest_page()->url_field()->setText(url);
                window.start_button()->setFocus();
            },
            Qt::QueuedConnection);
    }
    const int status = QApplication::exec();
    // Something that could not be saved as the window closed makes the exit status non-zero.
    return status != 0 || window.saved_on_close() ? status : 1;
}
