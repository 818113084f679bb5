#include "app/verify.h"

#include <gtest/gtest.h>

namespace tarnvelox::app {
namespace {

TEST(VerifyTest, MailDomainIsTheLowerCasePartAfterTheLastAt) {
    const struct {
        const char* address;
        std::optional<std::string> domain;
    } rows[] = {
        {"mailto:ann@Dept58.Example.NET", "dept58.example.net"},
        {"MAILTO:bob@site.example?subject=Hello@there", "site.example"},
        {"\"a@b\"@quoted.example", "quoted.example"},
        {"jo@site.example.", "site.example"},
        {"mailto:nobody", std::nullopt},
        {"mailto:trailing@", std::nullopt},
        {"", std::nullopt},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.address);
        EXPECT_EQ(mail_domain(row.address), row.domain);
    }
}

}  // namespace
}  // namespace tarnvelox::app
