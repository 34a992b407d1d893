#pragma once

#include "launch_request.h"

// Starts the child as our caller would have started it directly, inside a job that ends
// it whenever we end, waits until it has ended and releases it. Returns the status the
// launcher should end with: the child's exit code, or the platform's error code when the
// start or the wait failed.
unsigned long RunChild(const LaunchRequest& request);
