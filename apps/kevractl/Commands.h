// Sub-commands of kevractl. Each takes the arguments after its name (argv[0] is the name)
// and returns the process exit status: 0 done, 1 failed, 2 bad arguments.
// main.cpp dispatches through commandTable().
#pragma once

namespace kevra {

struct Command {
    const char* name;
    const char* usage;     // one line, shown by "kevractl help"
    const char* details;   // what "kevractl NAME --help" adds below the usage line
    bool network;          // takes the network options
    int (*run)(int argc, char** argv);
};

// Feeds a file to a fresh demultiplexer and prints one JSON line per frame record.
int runProbe(int argc, char** argv);

// Network commands (NetCommands.cpp): log in to a recorder with --host --port --user
// --password --timeout, do one thing, log out. A failure prints a sentence with the result
// code, e.g. "login failed: wrong password (0x1003)".
int runList(int argc, char** argv);
int runSnapshot(int argc, char** argv);
int runRecord(int argc, char** argv);
int runPtz(int argc, char** argv);

// SIGINT / SIGTERM (Interrupt.cpp): main installs the handlers for the network commands; their
// waits end when interrupted() turns true, and the command ends as cleanly as it would at its
// own end.
void installInterruptHandlers();
bool interrupted();

// The table main.cpp dispatches through; ends with an entry whose name is nullptr.
// Add a new command: declare its run function above and add a row in main.cpp.
const Command* commandTable();

// Prints "kevractl NAME --help" to standard output; returns 0 (the exit status).
int printCommandHelp(const char* name);

}   // namespace kevra
