// The per-user folder: trusted only when it is the user's own, never a shared fallback, and
// seeded whole by first starts that run at the same time.
#include "host/data_folder.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>
#include <pwd.h>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

// Sets (or, with nullopt, unsets) an environment variable for the object's lifetime.
class EnvironmentVariable {
  public:
    EnvironmentVariable(const char* name, std::optional<std::string> value) : name_(name) {
        if (const char* old = std::getenv(name)) old_ = old;
        if (value)
            setenv(name, value->c_str(), 1);
        else
            unsetenv(name);
    }
    ~EnvironmentVariable() {
        if (old_)
            setenv(name_, old_->c_str(), 1);
        else
            unsetenv(name_);
    }

  private:
    const char* name_;
    std::optional<std::string> old_;
};

// A uid that no passwd entry names.
uid_t UnknownUser() {
    uid_t uid = 54321;
    while (getpwuid(uid))
        ++uid;
    return uid;
}

// A per-user folder that is not the user's own is refused, named in the message, and nothing
// is copied into it: another user's, one others may write, one in a folder others may write
// without the sticky bit (they could swap it), one holding an image others may write. The user's
// own is used, in a sticky shared folder too.
TEST(DataFolder, PerUserFolderMustBeTheUsersOwn) {
    ScratchFolder scratch;
    EnvironmentVariable xdg("XDG_DATA_HOME", scratch.path() + "/xdg");
    const std::string folder = scratch.path() + "/xdg/lunabrik";
    const struct {
        const char* what;
        uid_t user; // the user the folder must belong to
        mode_t mode;
        mode_t parent_mode;
        mode_t image_mode; // of a basic.rom put there, 0 for none
        bool used;
        const char* named; // in the message
    } cases[] = {
        {"another user's", geteuid() + 1, 0755, 0755, 0, false, folder.c_str()},
        {"writable by the group", geteuid(), 0775, 0755, 0, false, folder.c_str()},
        {"writable by all", geteuid(), 0777, 0755, 0, false, folder.c_str()},
        {"in a folder all may write", geteuid(), 0755, 0777, 0, false, "/xdg "},
        {"an image all may write", geteuid(), 0755, 0755, 0666, false, "/basic.rom"},
        {"the user's own", geteuid(), 0755, 0755, 0644, true, ""},
        {"the user's own in a sticky folder", geteuid(), 0700, 01777, 0, true, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_EQ(chdir(scratch.path().c_str()), 0);
        ASSERT_EQ(std::system(("rm -rf '" + scratch.path() + "/xdg'").c_str()), 0);
        ASSERT_EQ(std::system(("mkdir -p '" + folder + "'").c_str()), 0);
        ASSERT_EQ(chmod(folder.c_str(), c.mode), 0);
        ASSERT_EQ(chmod((scratch.path() + "/xdg").c_str(), c.parent_mode), 0);
        if (c.image_mode) {
            const std::string image = folder + "/basic.rom";
            ASSERT_EQ(std::system(("echo rom > '" + image + "'").c_str()), 0);
            ASSERT_EQ(chmod(image.c_str(), c.image_mode), 0);
        }
        DataFolderReport report;
        DataFolderChecks checks;
        checks.user = c.user;
        EXPECT_EQ(EnterDataFolder(nullptr, report, checks), c.used) << report.error;
        if (c.used) {
            EXPECT_EQ(report.folder, folder);
        } else {
            EXPECT_NE(report.error.find(c.named), std::string::npos) << report.error;
            EXPECT_NE(access((folder + "/Files").c_str(), F_OK), 0) << "nothing made in it";
        }
    }
}

// Without XDG_DATA_HOME and HOME the passwd entry's home is used; without that too the folder is
// refused rather than put anywhere others could have made it first.
TEST(DataFolder, NoHomeMeansNoSharedFallback) {
    ScratchFolder scratch;
    EnvironmentVariable xdg("XDG_DATA_HOME", std::nullopt);
    EnvironmentVariable home("HOME", std::nullopt);
    const passwd* me = getpwuid(geteuid());
    ASSERT_NE(me, nullptr);
    EXPECT_EQ(UserDataFolder(), std::string(me->pw_dir) + "/.local/share/lunabrik");
    const uid_t nobody = UnknownUser();
    EXPECT_EQ(UserDataFolder(nobody), "");
    DataFolderReport report;
    DataFolderChecks checks;
    checks.user = nobody;
    EXPECT_FALSE(EnterDataFolder(nullptr, report, checks));
    EXPECT_NE(report.error.find("--dir"), std::string::npos) << report.error;
    EXPECT_EQ(access("/tmp/.local/share/lunabrik", F_OK) == 0 ? 1 : 0, 0)
        << "no folder made in a shared place";
}

// First starts at the same time each copy the images through a temporary name of their own: a
// file another start left under a shared temporary name is no obstacle, and every image ends
// whole.
TEST(DataFolder, ConcurrentFirstStartsEndWithWholeImages) {
    ScratchFolder scratch;
    EnvironmentVariable xdg("XDG_DATA_HOME", scratch.path() + "/xdg");
    const std::string folder = scratch.path() + "/xdg/lunabrik";
    const std::vector<std::pair<std::string, std::string>> images = {
        {"basic.rom", std::string(16384, 'B')},
        {"dev_dos.rom", std::string(4096, 'D')},
        {"font.bin", std::string(2560, 'F')}};
    ASSERT_EQ(mkdir("images", 0755), 0);
    for (const auto& [name, bytes] : images)
        scratch.WriteFile("images/" + name, bytes);
    DataFolderChecks checks;
    checks.images = scratch.path() + "/images";

    for (int round = 0; round < 5; ++round) {
        SCOPED_TRACE(round);
        ASSERT_EQ(std::system(("rm -rf '" + scratch.path() + "/xdg'").c_str()), 0);
        // What another start's copy in progress leaves under one shared name.
        ASSERT_EQ(std::system(("mkdir -p '" + folder + "/basic.rom.part'").c_str()), 0);
        ASSERT_EQ(chmod(folder.c_str(), 0700), 0);
        int go[2];
        ASSERT_EQ(pipe(go), 0);
        std::vector<pid_t> starts;
        for (int i = 0; i < 6; ++i) {
            const pid_t pid = fork();
            ASSERT_GE(pid, 0);
            if (pid == 0) {
                close(go[1]);
                char c;
                (void)!read(go[0], &c, 1); // all start together
                DataFolderReport report;
                _exit(EnterDataFolder(nullptr, report, checks) ? 0 : 1);
            }
            starts.push_back(pid);
        }
        close(go[0]);
        close(go[1]); // releases them all
        for (pid_t pid : starts) {
            int status = 0;
            ASSERT_EQ(waitpid(pid, &status, 0), pid);
            EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
        }
        for (const auto& [name, bytes] : images)
            EXPECT_TRUE(scratch.ReadFile("xdg/lunabrik/" + name) == bytes) << name << " not whole";
    }
}

} // namespace
