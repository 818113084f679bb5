// Finding the browsers of a desktop (a PATH, $BROWSER and an xdg-settings of the test's own) and
// what a hand-off gives the desktop, refuses and tells.

#include "browser/browser.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

#include "fakes/fake_desktop.h"
#include "store/temp_dir.h"

namespace tarnvelox::browser {
namespace {

using tarnvelox::testing::FakeDesktop;
using tarnvelox::testing::TempDir;

void write(const std::string& path, const std::string& text, bool executable) {
    std::ofstream(path, std::ios::binary) << text;
    ::chmod(path.c_str(), executable ? 0755 : 0644);
}

TEST(BrowserTest, DetectionListsEachSourceOnceInOrder) {
    struct Case {
        const char* name;
        std::string configured;
        std::vector<std::string> programs;  // executables put in bin/
        std::string browser_variable;
        std::string default_entry;  // what xdg-settings answers; empty: no xdg-settings
        std::string entry_exec;     // the Exec= line of applications/<default_entry>
        std::vector<std::string> expected;  // "bin/..." stands for the file in the test's bin/
    };
    const std::vector<Case> cases = {
        {"the setting as it is", "/opt/web/browse", {"firefox"}, "", "", "",
         {"/opt/web/browse", "bin/firefox"}},
        {"usual browsers in their order", "", {"chromium", "firefox", "unrelated"}, "", "", "",
         {"bin/firefox", "bin/chromium"}},
        {"$BROWSER programs with arguments, missing ones left out", "", {"lynx", "webby"},
         "nowhere %s:webby --private %s:lynx", "", "", {"bin/webby", "bin/lynx"}},
        {"the desktop's default through its entry", "", {"webby", "firefox"}, "",
         "org.example.Webby.desktop", "Exec=env LANG=C webby --new %u",
         {"bin/webby", "bin/firefox"}},
        {"the same program through every source once", "", {"firefox"}, "firefox",
         "firefox.desktop", "Exec=firefox %u", {"bin/firefox"}},
        {"a launcher told what to start is not the browser", "", {"flatpak"}, "",
         "org.example.Webby.desktop", "Exec=flatpak run --branch=stable org.example.Webby %u",
         {}},
        {"a default path of its own is not an entry", "", {"webby"}, "", "../../bin/webby", "",
         {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        const std::string bin = dir.file("bin");
        ::mkdir(bin.c_str(), 0755);
        ::mkdir(dir.file("data").c_str(), 0755);
        ::mkdir(dir.file("data/applications").c_str(), 0755);
        for (const std::string& program : c.programs) write(bin + "/" + program, "", true);
        // A browser's name on a file that cannot run is none.
        write(bin + "/chromium-browser", "", false);
        if (!c.default_entry.empty()) {
            write(bin + "/xdg-settings",
                  "#!/bin/sh\n[ \"$1 $2\" = 'get default-web-browser' ] && echo '" +
                      c.default_entry + "'\n",
                  true);
        }
        if (!c.entry_exec.empty()) {
            write(dir.file("data/applications/" + c.default_entry),
                  "[Desktop Action new]\nExec=other\n[Desktop Entry]\nName=Web\n" + c.entry_exec +
                      "\n",
                  false);
        }
        BrowserEnvironment env;
        env.browser_variable = c.browser_variable;
        env.path = dir.file("missing") + ":" + bin;
        env.data_home = dir.file("nowhere");
        env.data_dirs = dir.file("data");
        std::vector<std::string> expected;
        for (const std::string& e : c.expected) {
            expected.push_back(e.starts_with("bin/") ? dir.file(e) : e);
        }
        EXPECT_EQ(detect_browser(c.configured, env), expected);
    }
}

TEST(BrowserTest, TheDefaultEntryIsFoundWithoutWaitingOnAnything) {
    TempDir dir;
    const std::string bin = dir.file("bin");
    ::mkdir(bin.c_str(), 0755);
    write(bin + "/webby", "", true);
    // It answers, closes its output and goes on: waited for, it would leave "ran-on" behind.
    write(bin + "/xdg-settings",
          "#!/bin/sh\necho webby.desktop\nexec >&-\nsleep 5\ntouch \"$0.ran-on\"\n", true);
    ::mkdir(dir.file("applications").c_str(), 0755);
    write(dir.file("applications/webby.desktop"), "[Desktop Entry]\nExec=webby %u\n", false);
    // The first applications folder has a folder of the entry's name: not the entry.
    ::mkdir(dir.file("home").c_str(), 0755);
    ::mkdir(dir.file("home/applications").c_str(), 0755);
    ::mkdir(dir.file("home/applications/webby.desktop").c_str(), 0755);
    BrowserEnvironment env;
    env.path = bin;
    env.data_home = dir.file("home");
    env.data_dirs = dir.path();
    EXPECT_EQ(detect_browser("", env), std::vector<std::string>{bin + "/webby"});
    EXPECT_FALSE(std::filesystem::exists(bin + "/xdg-settings.ran-on"));
}

TEST(BrowserTest, OnlyWebMailAndExistingDataFilesAreHandedOver) {
    TempDir dir;
    write(dir.file("page.htm"), "<p>", false);
    write(dir.file("my page#1.htm"), "<p>", false);
    ::mkdir(dir.file("folder").c_str(), 0755);
    const std::string long_url = "http://127.0.0.1/" + std::string(300, 'a');
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"http://example.org/a b", "http://example.org/a b"},
        {"HTTPS://example.org/", "HTTPS://example.org/"},
        {"mailto:ann@example.org", "mailto:ann@example.org"},
        {"file:///etc/hosts", "file:///etc/hosts"},
        {"FILE://localhost" + dir.path() + "/my%20page%231.htm#top",
         "FILE://localhost" + dir.path() + "/my%20page%231.htm#top"},
        // A file URL of anything but a file that is there: a folder opens a file manager.
        {"file://" + dir.path() + "/folder", ""},
        {"file://" + dir.path() + "/missing.htm", ""},
        {"file://host.example" + dir.path() + "/page.htm", ""},
        {"file:page.htm", ""},
        {"file:///dev/null", ""},
        {long_url, long_url},
        {"page.htm", "file://" + dir.path() + "/page.htm"},
        {"my page#1.htm", "file://" + dir.path() + "/my%20page%231.htm"},
        {"javascript:alert(1)", ""},
        {"ftp://example.org/", ""},
        {"--new-window", ""},
        {"******", ""},  // the starting URL's source
        {"missing.htm", ""},
        {"folder", ""},
        {"../page.htm", ""},
    };
    for (const auto& [target, expected] : cases) {
        SCOPED_TRACE(target);
        EXPECT_EQ(handoff_url(target, dir.path()).value_or(""), expected);
    }
}

TEST(BrowserTest, OnlyFoldersInsideTheDataFolderAreHandedOverAsFolders) {
    TempDir dir;
    ::mkdir(dir.file("downloads").c_str(), 0755);
    ::mkdir(dir.file("my dir#1").c_str(), 0755);
    write(dir.file("downloads/setup.tar.gz"), "x", false);
    ::symlink("/tmp", dir.file("out").c_str());
    const std::vector<std::pair<std::string, std::string>> cases = {
        {dir.file("downloads"), "file://" + dir.path() + "/downloads"},
        {dir.file("downloads/"), "file://" + dir.path() + "/downloads"},
        {dir.file("my dir#1"), "file://" + dir.path() + "/my%20dir%231"},
        {dir.file("downloads/setup.tar.gz"), ""},  // a file is never opened this way
        {dir.path(), ""},
        {dir.file("downloads/.."), ""},
        {dir.file("downloads/../.."), ""},
        {dir.file("out"), ""},  // a link leading out of the folder
        {dir.file("missing"), ""},
        {"downloads", ""},
        {"", ""},
    };
    for (const auto& [path, expected] : cases) {
        SCOPED_TRACE(path);
        EXPECT_EQ(folder_handoff_url(path, dir.path()).value_or(""), expected);
    }
    EXPECT_EQ(folder_handoff_url(dir.file("downloads"), "").value_or(""), "");
}

TEST(BrowserTest, TheBrowserGetsTheUrlAsOneArgumentAfterItsNewWindowOption) {
    struct Case {
        std::string browser;
        int32_t newwin;
        std::vector<std::string> arguments;  // empty: the desktop's default browser
    };
    const std::string url = "http://example.org/?a=1&b=2 ;x";
    const std::vector<Case> cases = {
        {"", 3, {}},
        {"/usr/bin/firefox-esr", 1, {"--new-window", url}},
        {"/usr/bin/firefox-esr", 2, {url}},
        {"/usr/lib/chromium/chromium", 3, {"--new-window", url}},
        {"google-chrome-stable", 1, {"--new-window", url}},
        {"/usr/bin/lynx", 1, {url}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.browser + " " + std::to_string(c.newwin));
        FakeDesktop desktop;
        Handoff handoff(desktop, "/");
        EXPECT_EQ(handoff.open_in_browser(url, c.browser, c.newwin), 1);
        using Started = std::pair<std::string, std::vector<std::string>>;
        const std::vector<Started> started{{c.browser, c.arguments}};
        EXPECT_EQ(desktop.started, c.browser.empty() ? std::vector<Started>{} : started);
        EXPECT_EQ(desktop.opened_urls.size(), c.browser.empty() ? 1U : 0U);
    }
}

// A desktop that starts nothing and, while its box is open, is asked for another hand-off.
class FailingDesktop : public FakeDesktop {
  public:
    bool open_url(std::string_view url) override {
        (void)FakeDesktop::open_url(url);
        return false;
    }
    bool start_program(std::string_view program,
                       const std::vector<std::string>& arguments) override {
        (void)FakeDesktop::start_program(program, arguments);
        return false;
    }
    void message_box(std::string_view caption, std::string_view text,
                     platform::MessageIcon icon) override {
        FakeDesktop::message_box(caption, text, icon);
        if (Handoff* again = std::exchange(handoff, nullptr)) {
            inner_result = again->open_in_browser("http://b.example/", "", 0);
        }
    }
    Handoff* handoff = nullptr;
    int inner_result = -1;
};

TEST(BrowserTest, AFailedStartIsToldOnceAndRefusalsSayNothing) {
    for (const std::string browser : {"", "/nowhere/firefox"}) {
        SCOPED_TRACE(browser);
        FailingDesktop desktop;
        Handoff handoff(desktop, "/");
        desktop.handoff = &handoff;
        EXPECT_EQ(handoff.open_in_browser("http://a.example/", browser, 1), 0);
        ASSERT_EQ(desktop.messages.size(), 1U);
        EXPECT_EQ(desktop.messages[0].caption, "Browser Error");
        EXPECT_EQ(desktop.messages[0].text,
                  "\"Unable to open the specified Browser. Please check the Tarnvelox "
                  "Configuration.\"");
        EXPECT_EQ(desktop.messages[0].icon, platform::MessageIcon::Warning);
        // The hand-off under way refuses another, without a word.
        EXPECT_EQ(desktop.inner_result, 0);
        EXPECT_EQ(desktop.opened_urls.size() + desktop.started.size(), 1U);

        EXPECT_EQ(handoff.open_in_browser("javascript:void(0)", browser, 0), 0);
        EXPECT_EQ(handoff.open_in_browser("-oProxyCommand=x", browser, 0), 0);
        EXPECT_EQ(desktop.messages.size(), 1U);
        EXPECT_EQ(desktop.opened_urls.size() + desktop.started.size(), 1U);
    }
}

}  // namespace
}  // namespace tarnvelox::browser
