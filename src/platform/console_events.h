#pragma once

// Handles the console's events, and the end of the session, for as long as Kivo runs: the
// child meets each as it would without Kivo, and Kivo stays until the child has ended.
void OutlastConsoleEvents();
