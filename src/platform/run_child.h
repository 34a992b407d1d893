#pragma once

#include "launch_request.h"

// Starts the child in our console, environment and directory, without handing it any of
// our handles, waits until it has ended and releases it. Returns the status the launcher
// should end with: the child's exit code, or the platform's error code when the start
// failed.
unsigned long RunChild(const LaunchRequest& request);
