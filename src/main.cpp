#include <cstdio>

#include "launch_request.h"
#include "platform/run_child.h"

static const char UsageLine[] = "Kivo <Program> [Argument]";

// wmain: the runtime splits the command line as UTF-16, by the same rules as for main, so
// that every character of the operands reaches the child, whatever the ANSI code page.
int wmain(int argc, wchar_t* argv[])
{
    const LaunchOutcome outcome = BuildLaunchRequest(argc, argv);
    if (outcome.Usage) {
        // No line terminator: callers compare these exact bytes. Returning lets the
        // runtime flush stdout, so the line is whole in a file or a pipe too. Should
        // stdout be gone, the status still tells the caller what happened.
        (void)std::fputs(UsageLine, stdout);
        return -1;
    }
    // The child's status, all 32 bits: the runtime hands main's result to ExitProcess.
    return static_cast<int>(RunChild(outcome.Request));
}

#ifdef __MINGW32__
// The runtime's default report of a math error, which writes to stderr. Kivo does no
// floating-point arithmetic and writes nothing there: its own, silent one keeps the
// default and its texts out of Kivo.exe.
// NOLINTNEXTLINE(bugprone-reserved-identifier,cert-dcl37-c,cert-dcl51-cpp): the runtime's name
extern "C" int __cdecl _matherr(struct _exception* /*error*/)
{
    return 0;
}
#endif
