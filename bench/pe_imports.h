#pragma once

#include <string>
#include <vector>

// The DLLs that a 32-bit PE file imports, read from the file itself; empty when the file
// is not one.
std::vector<std::string> PeImports(const std::string& path);
