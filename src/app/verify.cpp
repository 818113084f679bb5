#include "app/verify.h"

#include "base/text_util.h"

namespace tarnvelox::app {

std::string link_state_text(const store::ItemRecord& rec) {
    const int32_t s = rec.status;
    if ((s & store::STATUS_TIMEOUT) != 0) return "timed out";
    if ((s & store::STATUS_MOVED) != 0) return "moved";
    if ((s & store::STATUS_HOST_NOT_FOUND) != 0) return "host not found";
    if ((s & store::STATUS_NOT_FOUND) != 0) return "not found (404)";
    if ((s & store::STATUS_BAD) != 0) return "bad link";
    if ((s & store::STATUS_VISITED) != 0) return "fetched";
    return "not fetched";
}

std::optional<std::string> mail_domain(std::string_view address) {
    constexpr std::string_view kMailto = "mailto:";
    if (address.size() >= kMailto.size() &&
        base::equal_nocase(address.substr(0, kMailto.size()), kMailto)) {
        address.remove_prefix(kMailto.size());
    }
    address = address.substr(0, address.find('?'));
    const std::size_t at = address.rfind('@');
    if (at == std::string_view::npos) return std::nullopt;
    std::string domain(address.substr(at + 1));
    while (!domain.empty() && (domain.back() == '.' || domain.back() == ' ')) domain.pop_back();
    if (domain.empty()) return std::nullopt;
    for (char& c : domain) c = base::to_lower(c);
    return domain;
}

std::string mail_answer_text(std::string_view domain, platform::MailAnswer answer,
                             std::string_view detail) {
    const std::string d(domain);
    switch (answer) {
        case platform::MailAnswer::Exchanger:
            return d + " takes mail: its mail exchanger is " + std::string(detail) + ".";
        case platform::MailAnswer::AddressOnly:
            return d + " has no mail exchanger; mail goes to its address " + std::string(detail) +
                   ".";
        case platform::MailAnswer::NoMail:
            return d + " takes no mail: it has neither a mail exchanger nor an address.";
        case platform::MailAnswer::Failed:
            return "Whether " + d + " takes mail could not be told: " + std::string(detail) + ".";
    }
    return {};
}

}  // namespace tarnvelox::app
