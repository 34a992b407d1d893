#include "launch_request.h"

LaunchOutcome BuildLaunchRequest(int argc, wchar_t* argv[])
{
    LaunchOutcome outcome = {};
    if (argc < 2) {
        outcome.Usage = true;
        return outcome;
    }
    // Only exactly two operands name the module apart from the command line; any other
    // count takes the first operand as the whole command line and drops the rest.
    if (argc == 3) {
        outcome.Request.ApplicationName = argv[1];
        outcome.Request.CommandLine = argv[2];
    } else {
        outcome.Request.CommandLine = argv[1];
    }
    return outcome;
}
