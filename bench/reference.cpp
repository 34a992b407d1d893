// The cheapest launcher C can make, for the benchmark to hold Kivo against: start the
// operand, wait for it, end with its status. Built as lean as the no-op child.
#include <windows.h>

int main(int argc, char* argv[])
{
    if (argc < 2) {
        return -1;
    }
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION child = {};
    if (!CreateProcessA(nullptr, argv[1], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &child)) {
        return static_cast<int>(GetLastError());
    }
    WaitForSingleObject(child.hProcess, INFINITE);
    DWORD status = 0;
    GetExitCodeProcess(child.hProcess, &status);
    CloseHandle(child.hProcess);
    CloseHandle(child.hThread);
    return static_cast<int>(status);
}
