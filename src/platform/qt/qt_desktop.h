#pragma once

// The desktop services on Qt Widgets: QMessageBox, QFileDialog, the application clipboard,
// the override cursor, QDesktopServices and QProcess. Dialogs are modal over `parent` (may be
// null); they run a nested event loop, so timers and socket events keep being delivered.

#include "platform/desktop.h"

class QWidget;

namespace tarnvelox::platform::qt {

class QtDesktop final : public Desktop {
  public:
    explicit QtDesktop(QWidget* parent) : parent_(parent) {}
    void set_parent(QWidget* parent) { parent_ = parent; }

    void message_box(std::string_view caption, std::string_view text, MessageIcon icon) override;
    bool confirm(std::string_view caption, std::string_view question) override;
    std::optional<FileDialogAnswer> file_dialog(const FileDialogRequest& request) override;
    bool set_clipboard_text(std::string_view text) override;
    bool clipboard_has_text() override;
    void busy_cursor(bool busy) override;
    bool open_url(std::string_view url) override;
    bool start_program(std::string_view program,
                       const std::vector<std::string>& arguments) override;

  private:
    QWidget* parent_;
};

}  // namespace tarnvelox::platform::qt
