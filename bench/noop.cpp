// The cheapest process there is: the floor for starting any program. Given a number, it
// sleeps that many milliseconds first, so that it can be measured while it runs.
#include <cstdlib>

#include <windows.h>

int main(int argc, char* argv[])
{
    if (argc > 1) {
        Sleep(static_cast<DWORD>(std::strtoul(argv[1], nullptr, 10)));
    }
    return 0;
}
