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

// One entry of a file dialog's file-type list.
struct FileType {
    std::string_view entry;    // the text the list shows
    std::string_view pattern;  // the file names it shows, ";"-separated ("*.htm;*.html")
};

// What a file dialog asks. The entries of `types` are borrowed for the call.
struct FileDialogRequest {
    enum class Mode {
        Open,  // an "Open" button; with must_exist off a new name may be typed
        Save,  // a "Save" button
    };
    Mode mode = Mode::Open;
    std::string caption;
    // The folder to start in, or a file in it to preselect; empty: the current folder.
    std::string start;
    std::vector<FileType> types;  // empty: every file
    int selected_type = 1;        // the entry of `types` shown first, 1-based
    bool overwrite_prompt = false;  // asks before an existing file is chosen (Save)
    bool must_exist = false;        // only an existing file can be chosen
};

struct FileDialogAnswer {
    std::string path;
    int type = 1;  // the entry of the request's `types` chosen, 1-based (1 when it had none)
};

class Desktop {
  public:
    virtual ~Desktop() = default;

    // A modal message box with `caption` (may be empty), `text`, `icon` and an OK button.
    virtual void message_box(std::string_view caption, std::string_view text, MessageIcon icon) = 0;
    // A modal box with the question icon and the buttons Yes and No: true only for Yes.
    [[nodiscard]] virtual bool confirm(std::string_view caption, std::string_view question) = 0;

    // The open or save file dialog of `request`. The chosen path and file type, or none when
    // the person cancelled. The program's working folder is the same afterwards.
    [[nodiscard]] virtual std::optional<FileDialogAnswer> file_dialog(
        const FileDialogRequest& request) = 0;

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
