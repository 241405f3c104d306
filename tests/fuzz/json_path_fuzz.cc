// Input: a JSON document, a newline, then a path resolved against it.
#include <cstdint>
#include <cstring>
#include <string>

#include "json_easy.h"
#include "sdk_logger.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static bool quiet = [] {
        sdk_set_log_level(SDK_LOG_LEVEL_NONE);
        return true;
    }();
    (void)quiet;
    std::string input(reinterpret_cast<const char*>(data), size);
    size_t split = input.find('\n');
    std::string doc_text = input.substr(0, split);
    std::string path = split == std::string::npos ? std::string() : input.substr(split + 1);

    Json* doc = Json_from_str(doc_text.c_str());
    if (!doc) doc = Json_from_str(R"({"a":{"b":[1,{"c":"x"},[2,3]]},"s":"7","n":null})");

    Json* node = Json_get_obj(doc, path.data());
    const char* str = Json_get_str(doc, path.data());
    int value = Json_get_int(doc, path.data());
    // The three look-ups must agree on whether the path resolves.
    if ((node == nullptr) != (str == nullptr)) __builtin_trap();
    if (node) {
        (void)value;
        (void)strlen(Json_to_str(node));
    }
    Json_add_str(doc, path.data(), path.data());
    Json_add_int(doc, path.data(), static_cast<int>(size));
    Json_free(doc);
    return 0;
}
