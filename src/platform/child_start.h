#pragma once

#include <windows.h>

#include "launch_request.h"

// Starts the child as a direct start by Kivo's caller would: in Kivo's console, or in none
// where Kivo has none, with Kivo's standard handles, environment and directory, and no
// other handle of Kivo's; with the startup record and the priority class that the caller
// gave Kivo. Flags are added to the creation flags. Fills child on success.
BOOL StartChild(const LaunchRequest& request, DWORD flags, PROCESS_INFORMATION& child);
