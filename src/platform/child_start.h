#pragma once

#include <windows.h>

#include "launch_request.h"
#include "platform/child_plan.h"

// What Kivo finds out before it starts its child: what Windows can do, Kivo's console, the
// startup record its caller gave it, its standard handles and priority class. In Kivo's job
// or not, as JoinOwnJob found.
StartFacts FindStartFacts(bool inOwnJob);

// Starts the child as the plan says, in Kivo's environment and directory, with the startup
// record its caller gave Kivo. Fills child on success.
BOOL StartChild(const LaunchRequest& request, const StartFacts& facts, const StartPlan& plan,
                PROCESS_INFORMATION& child);
