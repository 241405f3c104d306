// Runs scripts with Debian's Python (the one that has NumPy), not whatever
// python3 comes first on PATH.
#pragma once

#include <string>
#include <vector>

namespace qbtest {

constexpr const char* kSystemPython = "/usr/bin/python3";

// Runs script with the given arguments; returns the exit status (127 when the
// interpreter is missing) and puts standard output and error in *output.
int run_python(const std::string& script, const std::vector<std::string>& args, std::string* output);

}  // namespace qbtest
