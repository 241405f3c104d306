#include "json_easy.h"

#include "sdk_logger.h"
#include "support/test_support.h"

namespace {

using namespace qbtest;

class JsonPath : public testing::Test {
protected:
    void TearDown() override { Json_free(doc); }
    // Names of 49 characters may carry an index; longer ones must not overflow the name buffer.
    const std::string m49 = std::string(49, 'm'), n200 = std::string(200, 'n');
    Json* doc = Json_from_str((R"({"B":{"C":[{"D":"Not OK"},{"D":"OKK"},{"D":"ABC"}]},"result":"success","seven":7,)"
                               R"("answer":"42","nothing":null,"L":[0,1,2,3,4,5,6,7,8,9,10,11,"twelve"],")" + m49 +
                               R"(":["ok"],")" + n200 + R"(":["deep"]})").c_str());
};

TEST_F(JsonPath, PathsResolveToTheNodeOrToNull) {
    const std::pair<std::string, std::string> found[] = {
        {"B.C[1].D", "OKK"}, {"B.C[2].D", "ABC"}, {"B.C[0].D", "Not OK"}, {"L[12]", "twelve"}, {"B..C[1]..D", "OKK"},
        {".result.", "success"}, {"B.C[1]xyz.D", "OKK"}, {"seven", "7"}, {"B.C[1]", R"({ "D": "OKK" })"},
        {m49 + "[0]", "ok"}, {n200, R"([ "deep" ])"}};
    for (const auto& [p, w] : found) EXPECT_STREQ(Json_get_str(doc, mut(p.c_str())), w.c_str()) << p;
    const std::string missing[] = {n200 + "[0]", "nothing", "B.C[3].D", "B.C[-1].D", "L[13]", "result[0]", "B[0]",
                                   "Missing[0]", "result.x", "B.C[1", "B.C[]", "B.C[x]", "B.C[99999999999]"};
    for (const auto& p : missing) EXPECT_EQ(Json_get_str(doc, mut(p.c_str())), nullptr) << p;
    for (auto [p, w] : {std::pair{"answer", 42}, {"L[10]", 10}, {"B.X", -1}}) EXPECT_EQ(Json_get_int(doc, mut(p)), w) << p;
    for (const char* path : {"", "..."}) EXPECT_EQ(Json_get_obj(doc, mut(path)), doc);

    Json* arr = Json_from_str(R"([{"x":1},[10,20]])");
    EXPECT_EQ(std::pair(Json_get_int(arr, mut("[0].x")), Json_get_int(arr, mut("[1].[1]"))), std::pair(1, 20));
    Json_free(arr);
    EXPECT_TRUE(!Json_get_obj(nullptr, mut("")) && !Json_get_str(nullptr, mut("")));
    EXPECT_EQ(Json_get_int(nullptr, mut("")), -1);
}

TEST_F(JsonPath, FailuresLogComponentAndPathAtVerboseOnly) {
    EXPECT_EQ(capture_stdout([&] { Json_get_str(doc, mut("missing")); }), "");  // the default level is debug
    LogLevel verbose(SDK_LOG_LEVEL_VERBOSE);
    std::string log = capture_stdout([&] { Json_get_str(doc, mut("B.C[3].D")), Json_get_int(doc, mut("B.X")); });
    for (const char* line : {"GET C[3] FAIL\n", "Get Str B.C[3].D failed\n", "GET X FAIL\n", "Get Str B.X failed\n"})
        EXPECT_EQ(count_of(log, line), 1) << line;
    EXPECT_EQ(count_of(log, "[JSON_EASY]"), 4);
}

TEST(JsonAdd, AddsReplacesAndRefusesNulls) {
    Json *o = Json_new(), *arr = Json_array_new();
    char *k = mut("k"), *v = mut("v"), *w = mut("w");
    for (int rc : {Json_add_str(o, k, v), Json_add_int(o, mut("n"), -5), Json_add_str(o, k, w)}) EXPECT_EQ(rc, 0);
    std::string log = capture_stdout([&] {  // json-c would strdup a null value
        for (int rc : {Json_add_str(o, mut("x"), nullptr), Json_add_str(o, nullptr, v), Json_add_int(o, nullptr, 1),
                       Json_add_str(arr, k, v), Json_add_int(arr, k, 1), Json_add_str(nullptr, k, v),
                       Json_add_int(nullptr, k, 1)})
            EXPECT_EQ(rc, -1);
    });
    EXPECT_EQ(count_of(log, "[JSON_EASY]"), 5);  // a null document is refused silently
    EXPECT_EQ(std::string(Json_to_str(o)) + Json_to_str(arr), R"({"k":"w","n":-5}[])");
    for (Json* j : {arr, o}) Json_free(j);
}

}  // namespace
