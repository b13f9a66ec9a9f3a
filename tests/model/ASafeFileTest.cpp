#include "model/ASafeFile.h"

#include "platform/ScriptedPrompter.h"
#include "support/TestEnv.h"

#include <filesystem>
#include <string>
#include <unistd.h>

#include <gtest/gtest.h>

namespace cardmill {
namespace {

namespace fs = std::filesystem;

class SafeWrite : public ::testing::Test {
protected:
    bool Write(const std::string& path, const std::string& text, bool keepBackup)
    {
        std::unique_ptr<SafeOutput> file;
        std::string backupName;
        if (!writer.CreateSafely(path, keepBackup, file, backupName))
            return false;
        if (!file->Write(text)) {
            writer.AbortSafely(path, keepBackup, file, backupName);
            return false;
        }
        return writer.CommitSafely(path, keepBackup, file, backupName);
    }
    std::string Read(const std::string& path)
    {
        const auto bytes = test::ReadFile(path);
        return { bytes.begin(), bytes.end() };
    }

    test::TempDir dir;
    ScriptedPrompter prompter;
    ASafeFile writer { prompter };
};

TEST_F(SafeWrite, AFolderInTheBackupsPlaceDoesNotStopTheSave)
{
    const std::string path = dir.Write("live.cmr", "old");
    fs::create_directory(dir.File("live.bak"));
    EXPECT_TRUE(Write(path, "new", true));
    EXPECT_EQ(Read(path), "new");
    EXPECT_TRUE(fs::is_directory(dir.File("live.bak")));
    EXPECT_TRUE(prompter.shown.empty());
}

TEST_F(SafeWrite, ALinkStaysALinkAndItsTargetIsReplaced)
{
    fs::create_directory(dir.File("real"));
    const std::string target = dir.Write("real/live.cmr", "old");
    fs::create_symlink("real/live.cmr", dir.File("live.cmr"));
    fs::create_symlink("live.cmr", dir.File("again.cmr"));
    EXPECT_TRUE(Write(dir.File("again.cmr"), "new", true));
    EXPECT_TRUE(fs::is_symlink(dir.File("live.cmr")));
    EXPECT_TRUE(fs::is_symlink(dir.File("again.cmr")));
    EXPECT_EQ(Read(target), "new");
    EXPECT_FALSE(fs::exists(dir.File("real/live.bak")));
    EXPECT_EQ(ASafeFile::ResolveTarget(dir.File("again.cmr")), dir.File("real/live.cmr"));
}

TEST_F(SafeWrite, TemporaryFilesOfKilledWritesGoAtTheNextWrite)
{
    const std::string path = dir.Write("live.cmr", "old");
    const std::string ours = "live.cmr.tmp" + std::to_string(::getpid()) + ".7";
    dir.Write("live.cmr.tmp2147483646.12", "left by a killed save");
    dir.Write(ours, "a write of this process, still running");
    dir.Write("live.cmr.tmpnotes", "not ours");
    dir.Write("other.cmr.tmp2147483646.3", "another file's");
    EXPECT_TRUE(Write(path, "new", false));
    EXPECT_FALSE(fs::exists(dir.File("live.cmr.tmp2147483646.12")));
    EXPECT_TRUE(fs::exists(dir.File(ours)));
    EXPECT_TRUE(fs::exists(dir.File("live.cmr.tmpnotes")));
    EXPECT_TRUE(fs::exists(dir.File("other.cmr.tmp2147483646.3")));
}

TEST(ASafeFile, TheBackupReplacesOnlyTheFileNamesExtension)
{
    EXPECT_EQ(ASafeFile::BackupName("/p/proj.cmr"), "/p/proj.bak");
    EXPECT_EQ(ASafeFile::BackupName("/p.d/project"), "/p.d/project.bak");
}

} // namespace
} // namespace cardmill
