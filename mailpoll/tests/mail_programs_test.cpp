#include "talvorine/mailpoll/mail_programs.h"

#include <gtest/gtest.h>

#include <fstream>

#include "temp_registry.h"

namespace talvorine::mailpoll {
namespace {

namespace fs = std::filesystem;

void WriteFile(const fs::path& path, const std::string& text) {
    fs::create_directories(path.parent_path());
    std::ofstream(path) << text;
}

TEST(MailProgramsTest, SplitExecLine) {
    EXPECT_EQ(SplitExecLine("thunderbird -compose %u"),
              (std::vector<std::string>{"thunderbird", "-compose"}));
    EXPECT_EQ(SplitExecLine("\"/opt/Mail App/mail\" --new \"a \\\"b\\\"\" 100%%"),
              (std::vector<std::string>{"/opt/Mail App/mail", "--new", "a \"b\"", "100%"}));
    EXPECT_EQ(SplitExecLine("/usr/bin/mutt"), std::vector<std::string>{"/usr/bin/mutt"});
    EXPECT_TRUE(SplitExecLine("  ").empty());
}

TEST(MailProgramsTest, DesktopEntries) {
    const auto mail = ParseMailDesktopEntry(
        "mail.desktop",
        "[Desktop Entry]\nType=Application\nName=Mail\nExec=mail %u\n"
        "MimeType=text/plain;x-scheme-handler/mailto;\n[Desktop Action New]\nName=Other\n");
    ASSERT_TRUE(mail);
    EXPECT_EQ(mail->name, "Mail");
    EXPECT_EQ(mail->exec, "mail %u");
    EXPECT_FALSE(ParseMailDesktopEntry("x.desktop",
                                       "[Desktop Entry]\nName=X\nExec=x\nMimeType=text/plain;\n"));
    EXPECT_FALSE(ParseMailDesktopEntry(
        "h.desktop",
        "[Desktop Entry]\nName=H\nExec=h\nHidden=true\nMimeType=x-scheme-handler/mailto;\n"));
}

TEST(MailProgramsTest, FindsProgramsAndTheDefault) {
    testing::TempRegistry folder;
    const fs::path data = folder.Folder() / "data";
    const fs::path system = folder.Folder() / "system";
    ::setenv("XDG_DATA_HOME", data.c_str(), 1);
    ::setenv("XDG_DATA_DIRS", system.c_str(), 1);
    ::setenv("XDG_CONFIG_DIRS", (folder.Folder() / "etc").c_str(), 1);
    const std::string mailto = "MimeType=x-scheme-handler/mailto;\n";
    WriteFile(system / "applications/zmail.desktop",
              "[Desktop Entry]\nName=Zmail\nExec=zmail %u\n" + mailto);
    WriteFile(system / "applications/amail.desktop",
              "[Desktop Entry]\nName=Amail\nExec=amail\n" + mailto);
    // The user's own file of the same id hides the system one.
    WriteFile(data / "applications/amail.desktop",
              "[Desktop Entry]\nName=Amail\nExec=amail\nHidden=true\n" + mailto);
    WriteFile(system / "applications/vendor/mailer.desktop",
              "[Desktop Entry]\nName=Mailer\nExec=mailer\n" + mailto);
    WriteFile(folder.Folder() / "mimeapps.list",
              "[Added Associations]\nx-scheme-handler/mailto=amail.desktop;\n"
              "[Default Applications]\nx-scheme-handler/mailto=zmail.desktop;amail.desktop;\n");

    const auto programs = FindMailPrograms();
    ASSERT_EQ(programs.size(), 2u);
    EXPECT_EQ(programs[0].id, "vendor-mailer.desktop");
    EXPECT_FALSE(programs[0].isDefault);
    EXPECT_EQ(programs[1].name, "Zmail");
    EXPECT_TRUE(programs[1].isDefault);
}

}  // namespace
}  // namespace talvorine::mailpoll
