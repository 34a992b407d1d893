#pragma once

// What to start. Both texts point into the runtime's argument vector, which lives as long
// as the process; nothing is copied.
struct LaunchRequest {
    const char* ApplicationName; // module to load, or null: the first token of CommandLine names it
    char* CommandLine;           // the child's entire command line, exactly as we received it
};

// Either the usage case (no operand) or a request to start a child.
struct LaunchOutcome {
    bool Usage;
    LaunchRequest Request; // meaningful only when Usage is false
};

// Interprets the launcher's own argument count and vector; writes nothing.
LaunchOutcome BuildLaunchRequest(int argc, char* argv[]);
