#pragma once

// MailLookup: asks the name service whether a domain takes mail: its mail exchangers (MX
// records), else an address record of the domain itself, where mail is delivered when it has
// no exchanger. The look-up runs off the event loop; its answer comes later as one event,
// never from inside ask(). A binding that is destroyed first drops the answers still owed.

#include <functional>
#include <string>

namespace tarnvelox::platform {

enum class MailAnswer {
    Exchanger,    // an MX record names where mail goes
    AddressOnly,  // no MX record; the domain has an address, which takes the mail
    NoMail,       // neither: mail to the domain cannot be delivered
    Failed,       // the name service gave no answer (no network, a time-out)
};

class MailLookup {
public:
    // `detail`: the first exchanger or address found, or why the look-up failed.
    using Done = std::function<void(MailAnswer answer, const std::string& detail)>;
    virtual ~MailLookup() = default;
    virtual void ask(const std::string& domain, Done done) = 0;
};

}  // namespace tarnvelox::platform
