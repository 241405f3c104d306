#include "support/python_peer.h"

#include "support/test_support.h"

namespace qbtest {

namespace {
std::string quoted(const std::string& s) {
    std::string q = "'";
    for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}
}  // namespace

int run_python(const std::string& script, const std::vector<std::string>& args, std::string* output) {
    TempDir dir;
    write_file(dir.file("script.py"), script);
    std::string cmd = std::string(kSystemPython) + " " + quoted(dir.file("script.py"));
    for (const auto& a : args) cmd += " " + quoted(a);
    return run_command(cmd + " 2>&1", output);
}

}  // namespace qbtest
