// The desktop program's command line: lunabrik [options] [PROGRAM.BAS].
#pragma once

#include <string>

struct CommandLine {
    std::string program_file; // a text file to type in once the machine waits for input (absolute)
    std::string dir;          // --dir FOLDER: the folder to work in, or empty
};

// Reads the options (Qt's own, like -platform NAME, are passed over). Returns -1 to go on, or the
// exit code when the program should end now: 0 after --help or --version (printed on standard
// output), 2 after a usage message on standard error.
int ParseCommandLine(int argc, char** argv, CommandLine& line);

// The usage text.
const char* UsageText();
