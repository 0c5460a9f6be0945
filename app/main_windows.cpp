#include "main_system.h"

#include <cstdio>

#include <windows.h>

void UseParentConsole()
{
    if (!AttachConsole(ATTACH_PARENT_PROCESS))
        return;
    if (GetStdHandle(STD_OUTPUT_HANDLE) == nullptr)
        std::freopen("CONOUT$", "w", stdout);
    if (GetStdHandle(STD_ERROR_HANDLE) == nullptr)
        std::freopen("CONOUT$", "w", stderr);
}

// The toolkit's Windows platform writes nothing to stderr while it starts: nothing is held.
void HeldStderr::Hold() {}

void HeldStderr::Release(bool) {}
