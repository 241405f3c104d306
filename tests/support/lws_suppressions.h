// libwebsockets 4.1 leaks one block inside lws_create_context when the port
// cannot be bound; tests that provoke that on purpose include this header
// (once per test binary). Full unwinding lets the suppression name the
// library's function, so leaks of our own code under its callbacks still show.
#pragma once

extern "C" __attribute__((visibility("default"), used)) const char* __asan_default_options() {
    return "fast_unwind_on_malloc=0";
}

extern "C" __attribute__((visibility("default"), used)) const char* __lsan_default_suppressions() {
    return "leak:lws_smd_register\n";
}
