// Fixtures shared by the test binaries.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>
#include <utility>

namespace qbtest {

// A fresh directory under the system temp dir, removed with its contents on destruction.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& path() const { return path_; }
    std::string file(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

// Runs the current thread in dir for the fixture's lifetime.
class ScopedChdir {
public:
    explicit ScopedChdir(const std::string& dir);
    ~ScopedChdir();

private:
    std::string old_;
};

// Sets (or with a null value unsets) one environment variable, restoring it afterwards.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const char* value);
    ~ScopedEnv();

private:
    std::string name_;
    std::string old_;
    bool had_old_;
};

// The C API takes char* for texts it does not change.
inline char* mut(const char* s) { return const_cast<char*>(s); }

// Occurrences of needle in text (overlaps counted once per start).
int count_of(const std::string& text, const std::string& needle);

// Runs fn and returns what it wrote to standard output (log lines included).
template <typename Fn>
std::string capture_stdout(Fn&& fn) {
    testing::internal::CaptureStdout();
    std::forward<Fn>(fn)();
    return testing::internal::GetCapturedStdout();
}

// Sets the log threshold for a scope and restores the old one.
class LogLevel {
public:
    explicit LogLevel(int level);
    ~LogLevel();

private:
    int old_;
};

std::string read_file(const std::string& path);
void write_file(const std::string& path, const std::string& content);

// Polls pred every 10 ms until it holds or timeout_ms have passed; its last answer.
template <typename Pred>
bool eventually(Pred&& pred, int timeout_ms = 10000) {
    for (auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms); !pred();) {
        if (std::chrono::steady_clock::now() >= end) return pred();
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

// Runs a shell command; its exit status (127 when it could not run), standard output in *output.
int run_command(const std::string& cmd, std::string* output = nullptr);

// A string the library allocated with malloc, freed; "<null>" for none.
std::string take_string(char* s);

}  // namespace qbtest
