// The configuration store's C++ owner: values come back as copies that
// outlive changes to the store; failures carry the C function's name.

#include "qb_config.hpp"
#include "support/test_support.h"

namespace {

TEST(ConfigStoreCpp, CopiesOutliveTheStoreAndFailuresAreNamed) {
    qbtest::TempDir dir;
    auto made = qb::ConfigStore::create();
    ASSERT_TRUE(made);
    qb::ConfigStore cfg = std::move(*made);
    EXPECT_FALSE(made->has_section("a")) << "moved-from holds nothing";

    ASSERT_TRUE(cfg.load_text("[net]\nhost=box\nport=80\n") && cfg.add_section("empty"));
    std::string host = cfg.get("net", "host").value();
    ASSERT_TRUE(cfg.update("net", "host", "other"));
    EXPECT_EQ(host, "box");
    EXPECT_EQ(cfg.get("net", "host").value(), "other");
    auto missing = cfg.get("net", "user");
    ASSERT_FALSE(missing);
    EXPECT_STREQ(missing.error().function, "Config_Get");
    EXPECT_TRUE(cfg.has("net", "port") && cfg.has_section("empty") && !cfg.has("net", "user"));

    ASSERT_TRUE(cfg.add("extra", "k", "v"));
    EXPECT_EQ(cfg.section_count(), 3);
    EXPECT_EQ(cfg.section_at(2).value(), "extra");
    EXPECT_EQ(cfg.key_at("net", 1).value() + "=" + cfg.value_at("net", 1).value(), "port=80");
    EXPECT_FALSE(cfg.section_at(7));
    EXPECT_EQ(cfg.sections_json().value(), R"([ "net", "empty", "extra" ])");
    EXPECT_EQ(cfg.entries_json("extra").value_or(""), R"([ { "key": "k", "val": "v" } ])");
    EXPECT_TRUE(cfg.erase("net", "port") && cfg.erase_section("empty"));
    EXPECT_EQ(cfg.item_count("net"), 1);

    ASSERT_TRUE(cfg.write_file(dir.file("out.ini")));
    auto again = qb::ConfigStore::create();
    ASSERT_TRUE(again && again->load_file(dir.file("out.ini")));
    EXPECT_EQ(again->get("extra", "k").value(), "v");
    EXPECT_FALSE(again->load_file(dir.file("none.ini")));
    EXPECT_TRUE(cfg.clear());
    EXPECT_EQ(cfg.section_count(), 0);
}

}  // namespace
