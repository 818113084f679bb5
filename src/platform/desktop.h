#pragma once

// Desktop services: what the program asks of the desktop beyond its own window. Message boxes,
// Yes/No confirmations, the open and save file dialogs, the clipboard, the busy cursor, handing
// a URL to the person's browser and starting a program. The dialogs of the program and the
// browser hand-off call only this; the Qt binding implements it with widgets, tests with a fake
// that answers as told. One thread; nothing here keeps a reference to its arguments.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tarnvelox::platform {

enum class MessageIcon {
    None,
    Information,
    Warning,
    Error,
    Question,
};

class Desktop {
  public:
    virtual ~Desktop() = default;

    // A modal message box with `caption` (may be empty), `text`, `icon` and an OK button.
    virtual void message_box(std::string_view caption, std::string_view text, MessageIcon icon) = 0;
    // A modal box with the question icon and the buttons Yes and No: true only for Yes.
    [[nodiscard]] virtual bool confirm(std::string_view caption, std::string_view question) = 0;

    // The open or save file dialog, starting in `start` (a folder or file; empty: the current
    // folder). `filter` is a list of "Description (*.ext *.ext2)" entries separated by ";;".
    // The chosen path, or none when the person cancelled.
    [[nodiscard]] virtual std::optional<std::string> open_file_dialog(std::string_view caption,
                                                                      std::string_view start,
                                                                      std::string_view filter) = 0;
    [[nodiscard]] virtual std::optional<std::string> save_file_dialog(std::string_view caption,
                                                                      std::string_view start,
                                                                      std::string_view filter) = 0;

    // Puts `text` on the clipboard as plain text: true when done.
    [[nodiscard]] virtual bool set_clipboard_text(std::string_view text) = 0;
    [[nodiscard]] virtual bool clipboard_has_text() = 0;

    // Shows the busy cursor over the program (true) or takes one back (false); calls nest.
    virtual void busy_cursor(bool busy) = 0;

    // Hands `url` to the person's web browser (or mail program for "mailto:"): true when the
    // desktop took it.
    [[nodiscard]] virtual bool open_url(std::string_view url) = 0;
    // Starts `program` with `arguments`, not waiting for it: true when it started.
    [[nodiscard]] virtual bool start_program(std::string_view program,
                                             const std::vector<std::string>& arguments) = 0;
};

}  // namespace tarnvelox::platform
