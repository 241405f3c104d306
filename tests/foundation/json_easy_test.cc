#include "json_easy.h"

#include <gtest/gtest.h>

#include <string>

#include "sdk_logger.h"

namespace {

char* S(const char* s) { return const_cast<char*>(s); }

int count_of(const std::string& text, const std::string& needle) {
    int n = 0;
    for (size_t pos = text.find(needle); pos != std::string::npos; pos = text.find(needle, pos + 1)) ++n;
    return n;
}

class JsonPathTest : public testing::Test {
protected:
    void SetUp() override {
        doc = Json_from_str(R"({"A":"185","result":"success","B":{"C":[{"D":"Not OK"},{"D":"OKK"},{"D":"ABC"}]},
                               "seven":7,"answer":"42","flag":true,"nothing":null,"neg":-3,
                               "L":[0,1,2,3,4,5,6,7,8,9,10,11,"twelve"]})");
        ASSERT_NE(doc, nullptr);
    }
    void TearDown() override { Json_free(doc); }

    // Runs fn with the verbose level on and returns what was logged.
    template <typename Fn>
    std::string verbose(Fn fn) {
        int old = sdk_get_log_level();
        sdk_set_log_level(SDK_LOG_LEVEL_VERBOSE);
        testing::internal::CaptureStdout();
        fn();
        std::string out = testing::internal::GetCapturedStdout();
        sdk_set_log_level(old);
        return out;
    }

    Json* doc = nullptr;
};

TEST_F(JsonPathTest, IndexedPaths) {
    EXPECT_STREQ(Json_get_str(doc, S("B.C[1].D")), "OKK");
    EXPECT_STREQ(Json_get_str(doc, S("B.C[2].D")), "ABC");
    EXPECT_STREQ(Json_get_str(doc, S("B.C[0].D")), "Not OK");
    EXPECT_STREQ(Json_get_str(doc, S("L[12]")), "twelve");  // two-digit index
    EXPECT_EQ(Json_get_int(doc, S("L[10]")), 10);
    EXPECT_STREQ(Json_get_str(doc, S("B.C[1]xyz.D")), "OKK");  // text after "]" is ignored
}

TEST_F(JsonPathTest, IndexBeyondArrayLogsOneFailureLine) {
    int old = sdk_get_log_level();
    std::string log = verbose([&] { EXPECT_EQ(Json_get_obj(doc, S("B.C[3].D")), nullptr); });
    EXPECT_EQ(sdk_get_log_level(), old);
    EXPECT_EQ(count_of(log, "GET "), 1);
    EXPECT_EQ(count_of(log, "GET C[3] FAIL\n"), 1);

    log = verbose([&] { EXPECT_EQ(Json_get_str(doc, S("B.C[3].D")), nullptr); });
    EXPECT_EQ(count_of(log, "GET C[3] FAIL\n"), 1);
    EXPECT_EQ(count_of(log, "Get Str B.C[3].D failed\n"), 1);

    log = verbose([&] { EXPECT_EQ(Json_get_int(doc, S("B.X")), -1); });
    EXPECT_EQ(count_of(log, "GET X FAIL\n"), 1);
    EXPECT_EQ(count_of(log, "Get Str B.X failed\n"), 1);
}

TEST_F(JsonPathTest, FailureLinesAreVerboseOnly) {
    int old = sdk_get_log_level();
    sdk_set_log_level(SDK_LOG_LEVEL_DEBUG);
    testing::internal::CaptureStdout();
    EXPECT_EQ(Json_get_str(doc, S("missing")), nullptr);
    std::string log = testing::internal::GetCapturedStdout();
    sdk_set_log_level(old);
    EXPECT_EQ(log, "");
}

TEST_F(JsonPathTest, DotsAndEmptyPath) {
    EXPECT_STREQ(Json_get_str(doc, S("B..C[1]..D")), "OKK");
    EXPECT_STREQ(Json_get_str(doc, S(".result.")), "success");
    EXPECT_EQ(Json_get_obj(doc, S("")), doc);
    EXPECT_EQ(Json_get_obj(doc, S("...")), doc);
}

TEST_F(JsonPathTest, Conversions) {
    EXPECT_STREQ(Json_get_str(doc, S("seven")), "7");
    EXPECT_EQ(Json_get_int(doc, S("answer")), 42);
    EXPECT_EQ(Json_get_int(doc, S("flag")), 1);
    EXPECT_EQ(Json_get_int(doc, S("neg")), -3);
    EXPECT_STREQ(Json_get_str(doc, S("B.C[1]")), "{ \"D\": \"OKK\" }");  // json-c's rendering of a node
    EXPECT_EQ(Json_get_str(doc, S("nothing")), nullptr);                   // a JSON null is no node
}

TEST_F(JsonPathTest, InvalidIndexesGiveNull) {
    verbose([&] {
        EXPECT_EQ(Json_get_obj(doc, S("B.C[-1].D")), nullptr);
        EXPECT_EQ(Json_get_obj(doc, S("A[0]")), nullptr);        // a string, not an array
        EXPECT_EQ(Json_get_obj(doc, S("B[0]")), nullptr);        // an object, not an array
        EXPECT_EQ(Json_get_obj(doc, S("Missing[0]")), nullptr);
        EXPECT_EQ(Json_get_obj(doc, S("B.C[1")), nullptr);      // no closing bracket
        EXPECT_EQ(Json_get_obj(doc, S("B.C[]")), nullptr);
        EXPECT_EQ(Json_get_obj(doc, S("B.C[x]")), nullptr);
        EXPECT_EQ(Json_get_obj(doc, S("B.C[99999999999999999999999]")), nullptr);
        EXPECT_EQ(Json_get_obj(doc, S("A.x")), nullptr);         // member of a string
        EXPECT_EQ(Json_get_int(doc, S("L[13]")), -1);
    });
}

TEST_F(JsonPathTest, OverlongNameBeforeIndexIsRefused) {
    std::string name(200, 'n');
    Json* wide = Json_from_str(("{\"" + name + "\":[\"deep\"],\"" + std::string(49, 'm') + "\":[\"ok\"]}").c_str());
    ASSERT_NE(wide, nullptr);
    std::string log = verbose([&] { EXPECT_EQ(Json_get_obj(wide, S((name + "[0]").c_str())), nullptr); });
    EXPECT_EQ(count_of(log, "GET " + name + "[0] FAIL\n"), 1);
    // A plain component has no such limit, and 49 characters still index.
    EXPECT_NE(Json_get_obj(wide, S(name.c_str())), nullptr);
    EXPECT_STREQ(Json_get_str(wide, S((std::string(49, 'm') + "[0]").c_str())), "ok");
    Json_free(wide);
}

TEST(JsonPath, TopLevelArrayAndNullObject) {
    Json* arr = Json_from_str(R"([{"x":1},[10,20]])");
    ASSERT_NE(arr, nullptr);
    EXPECT_EQ(Json_get_int(arr, S("[0].x")), 1);
    EXPECT_EQ(Json_get_int(arr, S("[1].[1]")), 20);
    EXPECT_EQ(Json_get_obj(arr, S("[2]")), nullptr);
    Json_free(arr);

    EXPECT_EQ(Json_get_obj(nullptr, S("a")), nullptr);
    EXPECT_EQ(Json_get_str(nullptr, S("a")), nullptr);
    EXPECT_EQ(Json_get_int(nullptr, S("a")), -1);
}

TEST(JsonAdd, AddAndReplace) {
    Json* o = Json_new();
    EXPECT_EQ(Json_add_str(o, S("k"), S("v")), 0);
    EXPECT_EQ(Json_add_int(o, S("n"), -5), 0);
    EXPECT_EQ(Json_add_str(o, S("k"), S("w")), 0);
    EXPECT_STREQ(Json_to_str(o), R"({"k":"w","n":-5})");
    EXPECT_EQ(Json_get_int(o, S("n")), -5);
    Json_free(o);
}

TEST(JsonAdd, NullArgumentsAddNothing) {
    Json* o = Json_new();
    Json* arr = Json_array_new();
    testing::internal::CaptureStdout();
    EXPECT_EQ(Json_add_str(o, S("k"), nullptr), -1);
    EXPECT_EQ(Json_add_str(o, nullptr, S("v")), -1);
    EXPECT_EQ(Json_add_int(o, nullptr, 1), -1);
    EXPECT_EQ(Json_add_str(arr, S("k"), S("v")), -1);  // not an object
    EXPECT_EQ(Json_add_int(arr, S("k"), 1), -1);
    std::string log = testing::internal::GetCapturedStdout();
    EXPECT_EQ(count_of(log, "[JSON_EASY]"), 5);
    EXPECT_EQ(Json_add_str(nullptr, S("k"), S("v")), -1);
    EXPECT_EQ(Json_add_int(nullptr, S("k"), 1), -1);
    EXPECT_STREQ(Json_to_str(o), "{}");
    EXPECT_EQ(Json_array_length(arr), 0u);
    Json_free(arr);
    Json_free(o);
}

}  // namespace
