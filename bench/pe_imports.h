#pragma once

#include <string>
#include <vector>

// The DLLs that a PE32 or PE32+ file imports, read from the file itself; empty when the file
// is not one.
std::vector<std::string> PeImports(const std::string& path);
