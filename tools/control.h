// The runner's control protocol: one JSON object a line in, one JSON object a line out, in order.
// `lunabrik-headless --control` reads standard input; `--script FILE` reads the file. Every answer
// carries "ok": true, or "ok": false with "error"; a bad line is answered so and the session goes
// on. control.cpp's command table maps each command's name to the function that carries it out
// (which reads the command's fields); docs/debugger.md lists the commands and their fields.
// Relative file names in commands are taken from where the runner was started
// (SystemPathFromStart), whichever folder it works in.
#pragma once

#include <cstdio>
#include <functional>
#include <string>

struct ControlRunner {
    // Runs up to n ticks (the runner's own: deterministic or real time), ending early once done()
    // holds. Returns -1, or an exit code when the run must end (its time limit ran out).
    std::function<int(long n, const std::function<bool()>& done)> run_ticks;
};

// Runs the session until "quit" or the end of in. Exit code: 0 when every command succeeded (and
// always for an interactive session), else that of the last command that failed: 2 for an error
// answer, 1 for a wait or a run that ended without what it waited for (wait_for not found,
// step_over or step_out not reached); or the runner's own code when it had to end.
int RunControlSession(std::FILE* in, std::FILE* out, const ControlRunner& runner, bool script);
