#include "platform/special_folders.h"

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>

#include <gtest/gtest.h>

#include "tests/support/temp_folder.h"

namespace {

namespace fs = std::filesystem;

// Points HOME and XDG_CONFIG_HOME at a temporary folder for one test and restores them after.
class SpecialFoldersTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        Save("HOME", home_);
        Save("XDG_CONFIG_HOME", config_);
        fs::create_directory(temp_ / "config");
        ::setenv("HOME", temp_.str().c_str(), 1);
        ::setenv("XDG_CONFIG_HOME", (temp_ / "config").c_str(), 1);
    }
    void TearDown() override
    {
        Restore("HOME", home_);
        Restore("XDG_CONFIG_HOME", config_);
    }

    // Writes the user-dirs file that names the Desktop and Documents folders.
    void UserDirs(const std::string& desktop, const std::string& documents)
    {
        test::WriteFile(temp_ / "config" / "user-dirs.dirs",
                        "# written by the test\nXDG_DESKTOP_DIR=\"" + desktop +
                            "\"\nXDG_DOCUMENTS_DIR=\"" + documents + "\"\n");
    }

    test::TempFolder temp_;

private:
    static void Save(const char* name, std::optional<std::string>& slot)
    {
        if (const char* value = std::getenv(name))
            slot = value;
    }
    static void Restore(const char* name, const std::optional<std::string>& slot)
    {
        if (slot)
            ::setenv(name, slot->c_str(), 1);
        else
            ::unsetenv(name);
    }
    std::optional<std::string> home_, config_;
};

TEST_F(SpecialFoldersTest, ConfiguredFoldersAreReturnedExactly)
{
    UserDirs("$HOME/Schreibtisch", "/srv/共有/文書");
    EXPECT_EQ(platform::GetDeskTopFolder(), temp_.str() + "/Schreibtisch");
    EXPECT_EQ(platform::GetMyDocumentFolder(), "/srv/共有/文書");
}

TEST_F(SpecialFoldersTest, TrailingAndDoubledSeparatorsAreDropped)
{
    UserDirs("$HOME//Desk//", "/data/docs///");
    EXPECT_EQ(platform::GetDeskTopFolder(), temp_.str() + "/Desk");
    EXPECT_EQ(platform::GetMyDocumentFolder(), "/data/docs");
    // The root keeps its separator.
    UserDirs("/", "/");
    EXPECT_EQ(platform::GetDeskTopFolder(), "/");
    EXPECT_EQ(platform::GetMyDocumentFolder(), "/");
}

TEST_F(SpecialFoldersTest, RelativeAnswerGivesTheEmptyText)
{
    UserDirs("Desktop", "docs/");
    EXPECT_EQ(platform::GetDeskTopFolder(), "");
    EXPECT_EQ(platform::GetMyDocumentFolder(), "");
}

TEST_F(SpecialFoldersTest, WithoutConfigurationTheHomeFoldersAreAbsolute)
{
    ::setenv("HOME", (temp_.str() + "/").c_str(), 1);
    for (const std::string& path :
         {platform::GetDeskTopFolder(), platform::GetMyDocumentFolder()}) {
        ASSERT_FALSE(path.empty());
        EXPECT_EQ(path.front(), '/') << path;
        EXPECT_NE(path.back(), '/') << path;
        EXPECT_EQ(path.find("//"), std::string::npos) << path;
        EXPECT_EQ(path.rfind(temp_.str() + "/", 0), 0u) << path;
    }
}

} // namespace
