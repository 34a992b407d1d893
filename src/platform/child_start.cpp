#include "platform/child_start.h"

#include <cwchar>

#include "platform/child_console.h"
#include "platform/kernel32_function.h"

static StdKind KindOf(HANDLE handle)
{
    // Real handles are multiples of four. Values with both low bits set are the console
    // handles of Windows before 8; INVALID_HANDLE_VALUE and the rest name no handle.
    const ULONG_PTR low = reinterpret_cast<ULONG_PTR>(handle) & 3;
    DWORD mode = 0;
    if (!handle) {
        return StdKind::Missing;
    }
    if (low != 0) {
        return low == 3 && handle != INVALID_HANDLE_VALUE ? StdKind::ConsolePseudo : StdKind::Invalid;
    }
    if (GetConsoleMode(handle, &mode)) {
        return StdKind::Console;
    }
    return GetHandleInformation(handle, &mode) ? StdKind::Redirected : StdKind::Invalid;
}

// The list of handles that the child inherits: room for its one attribute, made ready
// where Windows keeps such lists (Vista and later).
static ULONG_PTR handleList[16];

static LPPROC_THREAD_ATTRIBUTE_LIST HandleList()
{
    return reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(handleList);
}

StartFacts FindStartFacts(bool inOwnJob)
{
    StartFacts facts = {};
    const auto makeList =
        Kernel32Function<decltype(&InitializeProcThreadAttributeList)>("InitializeProcThreadAttributeList");
    SIZE_T size = sizeof handleList;
    facts.HandleList = makeList && makeList(HandleList(), 1, 0, &size);
    facts.Console = HaveConsole();
    facts.ConsoleProcesses = ConsoleProcessCount();
    facts.Allocation = facts.Console ? AllocationUntold : AllocateAsAsked(facts.AllocatedWindow);
    STARTUPINFOW record;
    GetStartupInfoW(&record);
    facts.RecordFlags = record.dwFlags;
    const DWORD kinds[3] = {STD_INPUT_HANDLE, STD_OUTPUT_HANDLE, STD_ERROR_HANDLE};
    for (int index = 0; index < 3; ++index) {
        facts.Std[index] = GetStdHandle(kinds[index]);
        facts.Kinds[index] = KindOf(facts.Std[index]);
    }
    facts.Priority = GetPriorityClass(GetCurrentProcess());
    facts.InOwnJob = inOwnJob;
    return facts;
}

// The record our caller started us with, made the child's: a direct start by our caller
// would have handed the child the same show state, window place and size, console size,
// colours and title, desktop, and the flags that go with them.
static STARTUPINFOW CallersRecord()
{
    STARTUPINFOW startup;
    GetStartupInfoW(&startup);
    startup.cb = sizeof startup;
    // Reserved for the platform; and the C runtime's description of its own handles for
    // its child, which would name handles that the child does not inherit from us.
    startup.lpReserved = nullptr;
    startup.cbReserved2 = 0;
    startup.lpReserved2 = nullptr;
    // Given no title, Windows puts the program's own path in the record: ours stands for
    // none, and the child gets its own.
    static wchar_t self[32768];
    const DWORD length = GetModuleFileNameW(nullptr, self, sizeof self / sizeof self[0]);
    if (startup.lpTitle && length > 0 && _wcsicmp(startup.lpTitle, self) == 0) {
        startup.lpTitle = nullptr;
    }
    return startup;
}

BOOL StartChild(const LaunchRequest& request, const StartFacts& facts, const StartPlan& plan,
                PROCESS_INFORMATION& child)
{
    ZeroMemory(&child, sizeof child);
    // Our caller need not have marked them inheritable.
    for (DWORD index = 0; index < plan.InheritedCount; ++index) {
        SetHandleInformation(plan.Inherited[index], HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT);
    }
    STARTUPINFOEXW startup;
    ZeroMemory(&startup, sizeof startup);
    startup.StartupInfo = CallersRecord();
    static_assert(sizeof(STARTUPINFOW) == (sizeof(void*) == 4 ? 68 : 104), "the startup record of x86 or x64 Windows");
    STARTUPINFOW& record = startup.StartupInfo;
    record.dwFlags = plan.RecordFlags;
    if (plan.RecordFlags & STARTF_USESTDHANDLES) {
        record.hStdInput = facts.Std[0];
        record.hStdOutput = facts.Std[1];
        record.hStdError = facts.Std[2];
    }
    // The list points to them until the start.
    HANDLE inherited[3] = {plan.Inherited[0], plan.Inherited[1], plan.Inherited[2]};
    if (plan.Inherits == Inheritance::Listed) {
        // Should the list not take them, it limits nothing: the child inherits all that we
        // can hand on, as where Windows keeps no list, and never lacks what its record names.
        const auto update = Kernel32Function<decltype(&UpdateProcThreadAttribute)>("UpdateProcThreadAttribute");
        update(HandleList(), 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST, inherited, plan.InheritedCount * sizeof(HANDLE),
               nullptr, nullptr);
        record.cb = sizeof startup;
        startup.lpAttributeList = HandleList();
    }
    const BOOL started = CreateProcessW(request.ApplicationName, request.CommandLine, nullptr, nullptr,
                                        plan.Inherits != Inheritance::None, plan.CreationFlags, nullptr, nullptr,
                                        &record, &child);
    const DWORD error = GetLastError(); // the reason of a failed start, kept for our status
    if (facts.HandleList) {
        const auto release =
            Kernel32Function<decltype(&DeleteProcThreadAttributeList)>("DeleteProcThreadAttributeList");
        release(HandleList());
    }
    SetLastError(error);
    return started;
}
