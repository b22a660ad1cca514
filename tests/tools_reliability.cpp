// lunabrik-headless against what is not a plain file where it writes, and against a settings file
// whose waitstates would stop the machine in all but name.
#include "test_support.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <sys/resource.h>
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

// The scratch folder's images for a runner started by Spawn: a HALT loop, or the given ROM.
void InstallImages(const ScratchFolder& folder, std::string rom = {}) {
    if (rom.empty()) {
        rom.assign(16384, '\xFF');
        rom.replace(0, 3, "\x76\x18\xFD");
        rom.replace(0x66, 2, "\xED\x45");
    }
    folder.WriteFile("basic.rom", rom);
    folder.WriteFile("dev_dos.rom", "");
    std::ifstream font(LUNABRIK_FONT, std::ios::binary);
    folder.WriteFile("font.bin", std::string(std::istreambuf_iterator<char>(font), {}));
}

// How Spawn gives the runner its standard output.
enum class Output { File, Closed, BrokenPipe };

struct Spawned {
    bool exited;   // false: a signal ended it
    int exit_code; // or the signal
    std::string err;
};

// The runner as a child in the scratch folder with a file size limit (bytes; negative: none),
// standard input from in.txt, standard output as asked (SIGPIPE ignored for the broken pipe, as
// a caller that ignores it hands on) and standard error through a pipe, so a limit of 0 still lets
// it speak.
Spawned Spawn(const std::vector<std::string>& args, long size_limit, Output output = Output::File) {
    int err_pipe[2], out_pipe[2];
    if (pipe(err_pipe) != 0 || pipe(out_pipe) != 0) return {false, -1, "pipe failed"};
    const pid_t pid = fork();
    if (pid == 0) {
        if (size_limit >= 0) {
            const rlimit limit{rlim_t(size_limit), rlim_t(size_limit)};
            setrlimit(RLIMIT_FSIZE, &limit);
        }
        const int in = open("in.txt", O_RDWR | O_CREAT, 0600); // a FIFO: read for ever
        dup2(in, 0);
        if (output == Output::File) dup2(open("out.txt", O_WRONLY | O_CREAT | O_TRUNC, 0600), 1);
        if (output == Output::Closed) close(1);
        if (output == Output::BrokenPipe) {
            std::signal(SIGPIPE, SIG_IGN);
            dup2(out_pipe[1], 1);
        }
        close(out_pipe[0]);
        close(out_pipe[1]);
        dup2(err_pipe[1], 2);
        close(err_pipe[0]);
        alarm(60); // a runner that hangs fails the test instead of holding up the suite
        std::vector<char*> argv{const_cast<char*>(LUNABRIK_HEADLESS)};
        for (const std::string& a : args)
            argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        execv(LUNABRIK_HEADLESS, argv.data());
        _exit(127);
    }
    close(err_pipe[1]);
    close(out_pipe[0]);
    close(out_pipe[1]); // the broken pipe: nobody reads
    std::string err;
    char buffer[4096];
    for (ssize_t n; (n = read(err_pipe[0], buffer, sizeof buffer)) > 0;)
        err.append(buffer, size_t(n));
    close(err_pipe[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    if (WIFEXITED(status)) return {true, WEXITSTATUS(status), err};
    return {false, WTERMSIG(status), err};
}

std::vector<std::string> FilesEndingIn(const std::string& folder, const std::string& end) {
    std::vector<std::string> found;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        const std::string name = entry.path().filename().string();
        if (name.size() >= end.size() &&
            name.compare(name.size() - end.size(), end.size(), end) == 0)
            found.push_back(name);
    }
    return found;
}

// A file size limit makes every output an ordinary write error: the message naming the cause, the
// documented exit code and no temporary file left. Killed by SIGXFSZ, none of this happened.
TEST(HeadlessOutputs, AFileSizeLimitIsAWriteError) {
    // The ROM creates GAME.BAS in slot 0 and writes a block to it, then halts.
    std::string saving(16384, '\xFF');
    const uint8_t code[] = {
        0x31, 0x00, 0xF0,       // LD SP,F000h
        0x11, 0x40, 0x00,       // LD DE,0040h: the name record
        0x06, 0x00,             // LD B,0
        0x3E, 0x01, 0xD3, 0xFF, // LD A,1 / OUT (FFh),A: create
        0x3E, 0x04, 0xD3, 0xFF, // LD A,4 / OUT (FFh),A: write the block at HL
        0x76, 0x18, 0xFD,       // HALT / JR back to it
    };
    saving.replace(0, sizeof code, reinterpret_cast<const char*>(code), sizeof code);
    saving.replace(0x40, 11, "GAME    BAS");
    saving.replace(0x66, 2, "\xED\x45");
    const struct {
        const char* name;
        std::vector<std::string> args;
        bool basic_save;
        int exit_code;
        const char* named; // the file the message names
    } cases[] = {
        {"state", {"--ticks", "1", "--save-state", "s.lbs"}, false, 6, "s.lbs"},
        {"png", {"--ticks", "1", "--png", "p.png"}, false, 2, "p.png"},
        {"pbm", {"--ticks", "1", "--pbm", "p.pbm"}, false, 2, "p.pbm"},
        {"host file", {"--ticks", "3"}, true, 4, "GAME.BAS"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ScratchFolder folder;
        InstallImages(folder, c.basic_save ? saving : std::string());
        folder.WriteFile("Lunabrik.cfg", std::string(260, '\0')); // files in the folder itself
        std::vector<std::string> args{"--dir", folder.path()};
        args.insert(args.end(), c.args.begin(), c.args.end());
        const Spawned run = Spawn(args, 0);
        EXPECT_TRUE(run.exited) << "ended by signal " << run.exit_code;
        EXPECT_EQ(run.exit_code, c.exit_code) << run.err;
        EXPECT_NE(run.err.find(c.named), std::string::npos) << run.err;
        EXPECT_NE(run.err.find("File too large"), std::string::npos) << run.err;
        EXPECT_EQ(FilesEndingIn(folder.path(), ".tmp"), std::vector<std::string>{});
    }
}

// A slot a loaded state had open but whose file is gone: the program's write and close on it are
// host file failures (said on standard error, exit code 4), not silently lost.
TEST(HeadlessOutputs, WritingToASlotLostByALoadIsAWarning) {
    ScratchFolder folder;
    // Creates LOG.TXT in slot 2, waits for 9000h to be set, then writes a block and closes.
    std::string rom(16384, '\xFF');
    const uint8_t code[] = {
        0x31, 0x00, 0xF0,       // LD SP,F000h
        0x3E, 0x00,             // LD A,0
        0x32, 0x00, 0x90,       // LD (9000h),A
        0x11, 0x40, 0x00,       // LD DE,0040h: the name record
        0x06, 0x02,             // LD B,2
        0x3E, 0x01, 0xD3, 0xFF, // LD A,1 / OUT (FFh),A: create
        0x3A, 0x00, 0x90,       // 0011: LD A,(9000h)
        0xB7,                   // OR A
        0x28, 0xFA,             // JR Z,0011h
        0x3E, 0x04, 0xD3, 0xFF, // LD A,4 / OUT (FFh),A: write a block
        0x3E, 0x02, 0xD3, 0xFF, // LD A,2 / OUT (FFh),A: close
        0x76, 0x18, 0xFD,       // HALT / JR back to it
    };
    rom.replace(0, sizeof code, reinterpret_cast<const char*>(code), sizeof code);
    rom.replace(0x40, 11, "LOG     TXT");
    rom.replace(0x66, 2, "\xED\x45");
    InstallImages(folder, rom);
    folder.WriteFile("Lunabrik.cfg", std::string(260, '\0')); // files in the folder itself
    Spawned run = Spawn({"--dir", folder.path(), "--ticks", "2", "--save-state", "s.lbs"}, -1);
    ASSERT_EQ(run.exit_code, 0) << run.err;
    ASSERT_EQ(unlink("LOG.TXT"), 0);
    folder.WriteFile("script.txt", "{\"cmd\":\"load_state\",\"file\":\"s.lbs\"}\n"
                                   "{\"cmd\":\"poke\",\"addr\":36864,\"hex\":\"01\"}\n"
                                   "{\"cmd\":\"run\",\"ticks\":2}\n");
    run = Spawn({"--dir", folder.path(), "--script", folder.path() + "/script.txt"}, -1);
    EXPECT_EQ(run.exit_code, 4) << run.err;
    EXPECT_NE(run.err.find("LOG.TXT"), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("closed when a state was loaded"), std::string::npos) << run.err;
    EXPECT_NE(access("LOG.TXT", F_OK), 0) << "nothing is created";
}

// What the runner reads besides its images is a plain file, opened without blocking, and
// --time-limit bounds every wait: a folder or a FIFO as the script is refused at once, a FIFO as
// basic.rom.sym is passed over, and a session waiting for input that never comes ends in time.
TEST(HeadlessInputs, OnlyPlainFilesAndEveryWaitBounded) {
    const struct {
        const char* name;
        const char* script; // made as: "dir", "fifo", "file"
        bool fifo_symbols;
        bool fifo_input;
        int exit_code;
        const char* said;
    } cases[] = {
        {"script is a folder", "dir", false, false, 2, "not a plain file"},
        {"script is a FIFO", "fifo", false, false, 2, "not a plain file"},
        {"symbols are a FIFO", "file", true, false, 0, ""},
        {"input never ends", nullptr, false, true, 5, "time limit"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ScratchFolder folder;
        InstallImages(folder);
        const std::string script = folder.path() + "/script";
        const std::string kind = c.script ? c.script : "";
        bool made = true;
        if (kind == "dir") made = mkdir("script", 0700) == 0;
        if (kind == "fifo") made = mkfifo("script", 0600) == 0;
        if (kind == "file") folder.WriteFile("script", "{\"cmd\":\"run\",\"ticks\":1}\n");
        if (c.fifo_symbols) made = made && mkfifo("basic.rom.sym", 0600) == 0;
        if (c.fifo_input) made = made && mkfifo("in.txt", 0600) == 0;
        ASSERT_TRUE(made);
        std::vector<std::string> args{"--dir", folder.path(), "--time-limit", "1"};
        if (c.script)
            args.insert(args.end(), {"--script", script});
        else
            args.push_back("--control");
        const Spawned run = Spawn(args, -1);
        EXPECT_TRUE(run.exited) << "ended by signal " << run.exit_code;
        EXPECT_EQ(run.exit_code, c.exit_code) << run.err;
        EXPECT_NE(run.err.find(c.said), std::string::npos) << run.err;
    }
}

// Any name the folder takes can be written: the temporary file beside it has a short name of its
// own, not the target's name with more added.
TEST(HeadlessOutputs, NamesNearTheLimitCanBeWritten) {
    ScratchFolder folder;
    InstallImages(folder);
    for (const char* option : {"--save-state", "--png", "--pbm"}) {
        SCOPED_TRACE(option);
        const std::string name = std::string(251, 'n') + "." + std::string(option).substr(2, 3);
        ASSERT_EQ(name.size(), 255u);
        const Spawned run = Spawn({"--dir", folder.path(), "--ticks", "1", option, name}, -1);
        EXPECT_EQ(run.exit_code, 0) << run.err;
        EXPECT_EQ(access(name.c_str(), F_OK), 0);
    }
}

// An answer that cannot be written ends the session with exit code 2 and a message: the commands
// after it are not carried out (the state is never saved), whether standard output was closed
// or is a pipe nobody reads.
TEST(HeadlessOutputs, ALostAnswerEndsTheSession) {
    for (Output output : {Output::Closed, Output::BrokenPipe}) {
        for (bool script : {true, false}) {
            SCOPED_TRACE(std::string(output == Output::Closed ? "closed" : "broken pipe") +
                         (script ? " --script" : " --control"));
            ScratchFolder folder;
            InstallImages(folder);
            const std::string commands =
                "{\"cmd\":\"run\",\"ticks\":1}\n{\"cmd\":\"save_state\",\"file\":\"s.lbs\"}\n";
            folder.WriteFile(script ? "script.txt" : "in.txt", commands);
            std::vector<std::string> args{"--dir", folder.path(), "--control"};
            if (script) args.back() = "--script", args.push_back(folder.path() + "/script.txt");
            const Spawned run = Spawn(args, -1, output);
            EXPECT_TRUE(run.exited) << "ended by signal " << run.exit_code;
            EXPECT_EQ(run.exit_code, 2) << run.err;
            EXPECT_NE(run.err.find("standard output"), std::string::npos) << run.err;
            EXPECT_NE(access("s.lbs", F_OK), 0) << "a command after the lost answer ran";
        }
    }
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
