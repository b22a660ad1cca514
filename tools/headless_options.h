// The headless runner's command line: its options, in order, as actions and settings.
#pragma once

#include "system/typing.h"

#include <string>
#include <vector>

constexpr int ExitDone = 0;
constexpr int ExitTimedOut = 1;
constexpr int ExitUsage = 2;
constexpr int ExitStalled = 3;
constexpr int ExitHostFileWarning = 4;
constexpr int ExitTimeLimit = 5;
constexpr int ExitState = 6;

constexpr long MaxTicks = 100000000; // about 23 days of 20 ms ticks

enum class ActionKind { Type, Key, WaitFor, Ticks, Screen, Pbm, Png, SaveState, LoadState, Replay };

struct Action {
    ActionKind kind;
    std::string text; // the codes to type, the text to wait for, or a file name
    long count = 0;   // ticks
    KeyStroke key{};  // --key
};

struct Options {
    long timeout = 500;
    long instructions = 40000;
    long key_ticks = 0;  // 0: the pacer's own pace
    long time_limit = 0; // seconds of wall clock, 0: none
    uint32_t seed = 0;   // the LD A,R generator's seed
    bool realtime = false;
    bool fail_on_stall = false;
    bool stats = false;
    bool force_state = false;  // --force-state: load states saved with other ROM images
    const char* dir = nullptr; // --dir
    bool control = false;      // --control: commands from standard input after the actions
    std::string script;        // --script FILE (an absolute path), the same from a file
    std::string record;        // --record FILE: the run recorded to FILE
    std::string gif;           // --gif FILE: a --replay written as an animated GIF
    std::vector<Action> actions;
};

// Fills options from argv. Returns -1 when the run should go on, otherwise the exit code (--help
// printed, or a message on standard error for arguments it cannot take).
int ParseArguments(int argc, char** argv, Options& options);

// --key [ctrl+][shift+]NAME as a key stroke; false for a name no key has.
bool ParseKey(std::string name, KeyStroke& key);
