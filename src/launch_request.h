#pragma once

// What to start. Both texts point into the runtime's wide argument vector, which lives as
// long as the process; nothing is copied or converted.
struct LaunchRequest {
    const wchar_t* ApplicationName; // module to load, or null: the first token of CommandLine names it
    wchar_t* CommandLine;           // the child's entire command line, exactly as we received it
};

// Either the usage case (no operand) or a request to start a child.
struct LaunchOutcome {
    bool Usage;
    LaunchRequest Request; // meaningful only when Usage is false
};

// Interprets the launcher's own argument count and vector; writes nothing.
LaunchOutcome BuildLaunchRequest(int argc, wchar_t* argv[]);
