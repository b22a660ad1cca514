// The desktop program's command line: lunabrik [options] [PROGRAM.BAS].
#pragma once

#include <cstdint>
#include <string>

struct CommandLine {
    std::string program_file; // a text file to type in once the machine waits for input (absolute)
    std::string dir;          // --dir FOLDER: the folder to work in, or empty
    bool full_screen = false; // --fullscreen
    bool run = false;         // --run: RUN typed after the program file
    bool speed_given = false; // --speed real|max|P%|N: the pace for this run, in waitstates
    int32_t speed = 0;
    int speed_percent = 100; // how fast a real pace runs, in percent of a real ABC80
};

// The largest number of idle iterations --speed takes.
constexpr int32_t MaxSpeedIterations = 100000000;
// The largest share of a real ABC80 --speed takes, in percent.
constexpr int MaxSpeedPercent = 1000;

// Reads the options (Qt's own, like -platform NAME, are passed over). Returns -1 to go on, or the
// exit code when the program should end now: 0 after --help or --version (printed on standard
// output), 2 after a usage message on standard error.
int ParseCommandLine(int argc, char** argv, CommandLine& line);

// The usage text.
const char* UsageText();
