#pragma once

// A Desktop that records what the program asked and answers as the test says.

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/desktop.h"

namespace tarnvelox::testing {

class FakeDesktop : public platform::Desktop {
  public:
    struct Message {
        std::string caption;
        std::string text;
        platform::MessageIcon icon;
    };

    void message_box(std::string_view caption, std::string_view text,
                     platform::MessageIcon icon) override {
        messages.push_back({std::string(caption), std::string(text), icon});
    }
    bool confirm(std::string_view caption, std::string_view question) override {
        questions.emplace_back(std::string(caption), std::string(question));
        return answer_yes;
    }
    std::optional<platform::FileDialogAnswer> file_dialog(
        const platform::FileDialogRequest& request) override {
        file_requests.push_back(request);
        return next_file;
    }
    bool set_clipboard_text(std::string_view text) override {
        if (!clipboard_works) return false;
        clipboard = std::string(text);
        return true;
    }
    bool clipboard_has_text() override { return !clipboard.empty(); }
    void busy_cursor(bool busy) override { busy_depth += busy ? 1 : -1; }
    bool open_url(std::string_view url) override {
        opened_urls.emplace_back(url);
        return true;
    }
    bool start_program(std::string_view program,
                       const std::vector<std::string>& arguments) override {
        started.emplace_back(std::string(program), arguments);
        return true;
    }

    std::vector<Message> messages;
    std::vector<std::pair<std::string, std::string>> questions;  // caption, question
    bool answer_yes = true;
    std::vector<platform::FileDialogRequest> file_requests;  // every file dialog asked for
    std::optional<platform::FileDialogAnswer> next_file;      // what each one answers
    std::string clipboard;
    bool clipboard_works = true;
    int busy_depth = 0;
    std::vector<std::string> opened_urls;
    std::vector<std::pair<std::string, std::vector<std::string>>> started;
};

}  // namespace tarnvelox::testing
