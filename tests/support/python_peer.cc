#include "support/python_peer.h"

#include <sys/wait.h>

#include <cstdio>
#include <filesystem>

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
    const std::string path = dir.file("script.py");
    write_file(path, script);
    std::string cmd = std::string(kSystemPython) + " " + quoted(path);
    for (const auto& a : args) cmd += " " + quoted(a);
    cmd += " 2>&1";
    FILE* p = popen(cmd.c_str(), "r");
    if (!p) return 127;
    std::string out;
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
    const int status = pclose(p);
    if (output) *output = out;
    if (status == -1) return 127;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128;
}

}  // namespace qbtest
