// Fixtures shared by the test binaries.
#pragma once

#include <gtest/gtest.h>

#include <string>
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

}  // namespace qbtest
