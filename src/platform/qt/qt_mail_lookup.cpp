#include "platform/qt/qt_mail_lookup.h"

#include <QDnsLookup>
#include <QHostInfo>

#include "platform/qt/qt_text.h"

namespace tarnvelox::platform::qt {

void QtMailLookup::ask(const std::string& domain, Done done) {
    const QString name = to_qstring(domain);
    auto* lookup = new QDnsLookup(QDnsLookup::MX, name, this);
    connect(lookup, &QDnsLookup::finished, this, [this, lookup, name, done = std::move(done)] {
        lookup->deleteLater();
        const QList<QDnsMailExchangeRecord> records = lookup->mailExchangeRecords();
        if (lookup->error() == QDnsLookup::NoError && !records.isEmpty()) {
            // Qt orders the exchangers by preference.
            done(MailAnswer::Exchanger, to_bytes(records.first().exchange()));
            return;
        }
        // No exchanger: the domain's own address takes the mail, if it has one.
        const QDnsLookup::Error error = lookup->error();
        if (error == QDnsLookup::NoError || error == QDnsLookup::NotFoundError) {
            ask_address(name, done);
            return;
        }
        done(MailAnswer::Failed, to_bytes(lookup->errorString()));
    });
    lookup->lookup();
}

void QtMailLookup::ask_address(const QString& domain, Done done) {
    QHostInfo::lookupHost(domain, this, [done = std::move(done)](const QHostInfo& info) {
        if (info.error() == QHostInfo::NoError && !info.addresses().isEmpty()) {
            done(MailAnswer::AddressOnly, to_bytes(info.addresses().first().toString()));
        } else if (info.error() == QHostInfo::HostNotFound || info.error() == QHostInfo::NoError) {
            done(MailAnswer::NoMail, std::string());
        } else {
            done(MailAnswer::Failed, to_bytes(info.errorString()));
        }
    });
}

}  // namespace tarnvelox::platform::qt
