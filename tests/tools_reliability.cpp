// lunabrik-headless against what is not a plain file where it writes, and against a settings file
// whose waitstates would stop the machine in all but name.
#include "test_support.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

struct RunnerOutcome {
    int exit_code;
    std::string err;
};

// The runner in the scratch folder (a HALT loop for a ROM, the built font), bounded in time.
RunnerOutcome StartRunner(const ScratchFolder& folder, const std::string& args) {
    std::string rom(16384, '\xFF');
    rom.replace(0, 3, "\x76\x18\xFD"); // HALT; JR back to it
    rom.replace(0x66, 2, "\xED\x45");  // NMI: RETN
    folder.WriteFile("basic.rom", rom);
    folder.WriteFile("dev_dos.rom", "");
    std::ifstream font(LUNABRIK_FONT, std::ios::binary);
    folder.WriteFile("font.bin", std::string(std::istreambuf_iterator<char>(font), {}));
    const std::string command = "XDG_DATA_HOME='" + folder.path() + "/xdg' timeout 60 '" +
                                LUNABRIK_HEADLESS + "' " + args + " 2>err.txt";
    const int status = std::system(command.c_str());
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, folder.ReadFile("err.txt")};
}

// A picture written over a device, a FIFO, a socket, a folder or a link is refused with exit code
// 2 and a message naming the file; the node stays what it was. The device is made here, in a
// private folder, where the test may make one (as root); otherwise that case is left out.
TEST(HeadlessOutputs, NeverReplaceWhatIsNotAPlainFile) {
    ScratchFolder folder;
    folder.WriteFile("target.png", "kept");
    ASSERT_EQ(mkfifo("fifo", 0600), 0);
    ASSERT_EQ(mkdir("folder", 0700), 0);
    ASSERT_EQ(symlink("target.png", "link"), 0);
    const bool device = mknod("device", S_IFCHR | 0600, makedev(1, 3)) == 0; // like /dev/null
    const int sock = socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::snprintf(address.sun_path, sizeof address.sun_path, "%s/socket", folder.path().c_str());
    ASSERT_EQ(bind(sock, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);

    const struct {
        const char* name;
        mode_t type;
    } cases[] = {{"fifo", S_IFIFO},
                 {"folder", S_IFDIR},
                 {"link", S_IFLNK},
                 {"device", S_IFCHR},
                 {"socket", S_IFSOCK}};
    for (const auto& c : cases) {
        if (c.type == S_IFCHR && !device) continue;
        for (const char* option : {"--png", "--pbm"}) {
            SCOPED_TRACE(std::string(option) + " " + c.name);
            RunnerOutcome run =
                StartRunner(folder, std::string("--ticks 1 ") + option + " " + c.name);
            EXPECT_EQ(run.exit_code, 2);
            EXPECT_NE(run.err.find(c.name), std::string::npos) << run.err;
            struct stat st;
            ASSERT_EQ(lstat(c.name, &st), 0);
            EXPECT_EQ(st.st_mode & S_IFMT, c.type) << "replaced";
        }
    }
    EXPECT_EQ(folder.ReadFile("target.png"), "kept") << "a link's target is not written either";
    close(sock);
    // A plain file is replaced as before.
    EXPECT_EQ(StartRunner(folder, "--ticks 1 --png target.png").exit_code, 0);
    EXPECT_EQ(folder.ReadFile("target.png").substr(1, 3), "PNG");
}

// A Lunabrik.cfg written as text reads as a huge waitstates: the run says so on standard error,
// naming the value, the file and how to set a speed, and still uses the value as read.
TEST(HeadlessSettings, HugeWaitstatesIsNamedAtStart) {
    ScratchFolder folder;
    folder.WriteFile("Lunabrik.cfg", "waitstates = -1\nfolder = Files/\n");
    const std::string value = std::to_string(int32_t(0x74696177)); // "wait", little-endian
    RunnerOutcome run = StartRunner(folder, "--time-limit 1 --ticks 100");
    EXPECT_EQ(run.exit_code, 5) << "the value is used: the ticks do not get done" << run.err;
    EXPECT_NE(run.err.find(value), std::string::npos) << run.err;
    EXPECT_NE(run.err.find(folder.path() + "/Lunabrik.cfg"), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("speed"), std::string::npos) << run.err;

    // An ordinary slow-down says nothing.
    folder.WriteFile("Lunabrik.cfg", std::string("\x10\0\0\0", 4) + "Files/");
    run = StartRunner(folder, "--ticks 2");
    EXPECT_EQ(run.exit_code, 0);
    EXPECT_EQ(run.err.find("waitstates"), std::string::npos) << run.err;
}

} // namespace
