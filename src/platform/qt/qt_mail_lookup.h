#pragma once

// The MailLookup binding on QDnsLookup (MX records) and QHostInfo (address records). Both run
// off the event loop and answer through it. Lives on the main thread.

#include <QObject>

#include "platform/mail_lookup.h"

namespace tarnvelox::platform::qt {

class QtMailLookup final : public QObject, public MailLookup {
    Q_OBJECT

public:
    explicit QtMailLookup(QObject* parent = nullptr) : QObject(parent) {}
    void ask(const std::string& domain, Done done) override;

private:
    void ask_address(const QString& domain, Done done);
};

}  // namespace tarnvelox::platform::qt
