#pragma once

// Verify on the Details page: what a person is told of a link fetched again and of an address
// whose domain was asked whether it takes mail. Text only; the fetch is HarvestRun::verify_link
// and the question goes to the platform's MailLookup.

#include <optional>
#include <string>
#include <string_view>

#include "platform/mail_lookup.h"
#include "store/item_record.h"

namespace tarnvelox::app {

// The state a fetch left a link in, as its icon shows it: "fetched", "not found (404)",
// "host not found", "timed out", "moved", "bad link" or "not fetched".
[[nodiscard]] std::string link_state_text(const store::ItemRecord& rec);

// The domain of an address ("mailto:" and a "?subject=..." part left off), in lower case; none
// when the text has no "@" or nothing after it.
[[nodiscard]] std::optional<std::string> mail_domain(std::string_view address);

// One sentence on what the name service said of `domain`.
[[nodiscard]] std::string mail_answer_text(std::string_view domain, platform::MailAnswer answer,
                                           std::string_view detail);

}  // namespace tarnvelox::app
