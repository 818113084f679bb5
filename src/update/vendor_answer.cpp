#include "update/vendor_answer.h"

#include "base/text_util.h"

namespace tarnvelox::update {
namespace {

// The text of a command up to its next ";" (or the end of the line).
std::string_view up_to_semicolon(std::string_view text) {
    const std::size_t end = text.find(';');
    return end == std::string_view::npos ? text : text.substr(0, end);
}

// "number,text": the text after the ",", none without one.
bool text_after_comma(std::string_view args, std::string_view& text) {
    const std::size_t comma = args.find(',');
    if (comma == std::string_view::npos) return false;
    text = up_to_semicolon(args.substr(comma + 1));
    return true;
}

class Boxes {
public:
    explicit Boxes(std::vector<VendorMessage>& boxes) : boxes_(boxes) {}
    void ask(std::string_view caption, std::string_view text) {
        if (asked_ >= kMaxBoxesPerAnswer) return;
        ++asked_;
        boxes_.push_back({std::string(caption), std::string(text)});
    }

private:
    std::vector<VendorMessage>& boxes_;
    std::size_t asked_ = 0;
};

void act_on_line(std::string_view command, VendorState& state, VendorSettings settings,
                 Boxes& boxes) {
    auto starts = [&](std::string_view word) { return command.substr(0, word.size()) == word; };
    std::string_view text;
    // Order matters: "MESSAGE=" is tried before the longer words, and only the exact word
    // "MESSAGE=" matches it ("MESSAGEV=" does not begin with "MESSAGE=").
    if (starts("NEWS=")) {
        const std::string_view args = command.substr(5);
        if (!text_after_comma(args, text)) return;
        const int32_t number = base::read_int(args);
        if (number > settings.news) {
            boxes.ask(kNewsCaption, text);
            settings.news = number;
        }
    } else if (starts("MESSAGE=")) {
        boxes.ask(kMessageCaption, up_to_semicolon(command.substr(8)));
    } else if (starts("MESSAGEV=")) {
        const std::string_view args = command.substr(9);
        if (text_after_comma(args, text) && base::read_int(args) < kThisVersion) {
            boxes.ask(kMessageCaption, text);
        }
    } else if (starts("MESSAGEVEQ=")) {
        const std::string_view args = command.substr(11);
        if (text_after_comma(args, text) && base::read_int(args) == kThisVersion) {
            boxes.ask(kMessageCaption, text);
        }
    } else if (starts("BUILD=")) {
        const std::string_view args = command.substr(6);
        state.latest_build = base::read_int(args);
        const std::size_t semicolon = args.find(';');
        if (semicolon != std::string_view::npos) {
            state.setup_url = std::string(up_to_semicolon(args.substr(semicolon + 1)));
        }
    } else if (starts("VER1=")) {
        const std::string_view args = command.substr(5);
        state.latest_version = base::read_int(args);
        settings.lastwarn = state.latest_version;
        const std::size_t semicolon = args.find(';');
        if (state.latest_version > kThisVersion && semicolon != std::string_view::npos) {
            boxes.ask(kMessageCaption, up_to_semicolon(args.substr(semicolon + 1)));
        }
    } else if (starts("UPGRADE=")) {
        // Only the newer level is noted: switching the engine to the upgrade download in the
        // middle of a harvest would end it without a word. The version-check dialog decides.
        const int32_t level = base::read_int(command.substr(8));
        if (settings.upgrade < level) settings.upgradenew = level;
    }
}

}  // namespace

int parse_vendor_answer(std::string_view text, VendorState& state, VendorSettings settings,
                        std::vector<VendorMessage>& boxes) {
    Boxes asked(boxes);
    std::size_t pos = 0;
    for (;;) {
        while (pos < text.size() && base::is_space(text[pos])) ++pos;
        const std::size_t end = text.find('\n', pos);
        // Text after the last line feed may be a line cut short: it is not acted on.
        if (end == std::string_view::npos) break;
        std::string_view line = text.substr(pos, end - pos);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        if (!line.empty() && line.front() == '#') {
            act_on_line(line.substr(1), state, settings, asked);
        }
        pos = end + 1;
    }
    ++state.answers_received;
    return 1;
}

}  // namespace tarnvelox::update
