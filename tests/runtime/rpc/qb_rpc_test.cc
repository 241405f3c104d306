#include <cstdlib>
#include <string>

#include "qb_rpc.h"
#include "sdk_logger.h"
#include "support/http_peer.h"
#include "support/netns.h"
#include "support/test_support.h"

extern char** environ;

using qbtest::mut;

namespace {

TEST(QbRpc, NamespaceComesFromTheLastUsableNodeConfig) {
    {
        qbtest::ScopedEnv none("NODE_CONFIG", nullptr);
        EXPECT_EQ(qbtest::take_string(qb_get_namespace()), "<null>");
    }
    for (const char* bad : {"not json", "{\"app\":{\"cs\":{}}}", "{\"app\":{\"cs\":{\"masterNamespace\":7}}}"}) {
        qbtest::ScopedEnv env("NODE_CONFIG", bad);
        EXPECT_EQ(qbtest::take_string(qb_get_namespace()), "<null>") << bad;
    }
    qbtest::ScopedEnv env("NODE_CONFIG", "{\"app\":{\"cs\":{\"masterNamespace\":\"ns1\"}}}");
    EXPECT_EQ(qbtest::take_string(qb_get_namespace()), "ns1");

    char first[] = "NODE_CONFIG={\"app\":{\"cs\":{\"masterNamespace\":\"first\"}}}";
    char broken[] = "NODE_CONFIG={";
    char last[] = "NODE_CONFIG={\"app\":{\"cs\":{\"masterNamespace\":\"last\"}}}";
    char* entries[] = {first, last, broken, nullptr};
    char** saved = environ;
    environ = entries;
    std::string got = qbtest::take_string(qb_get_namespace());
    environ = saved;
    EXPECT_EQ(got, "last");
}

// Inside a private network namespace (port 7000 is free there, names do not
// resolve): the request seen by a local server, byte for byte.
TEST(QbRpc, SendsTheRequestBodyByteForByte) {
    qbtest::TempDir dir;
    const std::string seen_file = dir.file("seen"), log_file = dir.file("log");
    int rc = qbtest::run_in_private_netns([&] {
        qbtest::PythonHttpServer peer(QB_RPC_PORT);
        if (peer.port() != QB_RPC_PORT) return 2;
        setenv("QB_MQ_TYPE", "redis", 1);  // parameters come from the environment
        setenv("QB_RPC_HOST_FORMAT", "http://%s", 1);
        setenv("NODE_CONFIG", "{\"app\":{\"cs\":{\"masterNamespace\":\"127.0.0.1\"}}}", 1);
        setenv("QB_STREAM_USER_ID", "u1", 1);
        setenv("QB_STREAM_APP_ID", "a\"1", 1);
        setenv("QB_STREAM_NODE_ID", "n1", 1);
        qb_rpc_start_dll(mut("oss://bucket/pkg.zip"), mut("run"));
        unsetenv("QB_STREAM_NODE_ID");
        std::string log = qbtest::capture_stdout([] { qb_rpc_start_dll(mut("p"), mut("f")); });
        // Refused namespaces: nothing sent.
        setenv("NODE_CONFIG", "{\"app\":{\"cs\":{\"masterNamespace\":\"127.0.0.1/x?\"}}}", 1);
        log += qbtest::capture_stdout([] { qb_rpc_start_dll(mut("p"), mut("g")); });
        std::string long_ns = "{\"app\":{\"cs\":{\"masterNamespace\":\"" + std::string(1100, 'n') + "\"}}}";
        setenv("NODE_CONFIG", long_ns.c_str(), 1);
        log += qbtest::capture_stdout([] { qb_rpc_start_dll(mut("p"), mut("h")); });
        unsetenv("NODE_CONFIG");
        log += qbtest::capture_stdout([] { qb_rpc_start_dll(mut("p"), mut("i")); });
        // The built-in host of a namespace (it does not resolve here).
        unsetenv("QB_RPC_HOST_FORMAT");
        setenv("NODE_CONFIG", "{\"app\":{\"cs\":{\"masterNamespace\":\"ns1\"}}}", 1);
        qbtest::LogLevel verbose(SDK_LOG_LEVEL_VERBOSE);
        log += qbtest::capture_stdout([] { qb_rpc_start_dll(mut("p"), mut("j")); });
        std::string seen;
        for (const auto& r : peer.requests()) seen += r.method + " " + r.path + " " + r.body + "\n";
        qbtest::write_file(seen_file, seen);
        qbtest::write_file(log_file, log);
        return 0;
    });
    ASSERT_NE(rc, 77) << "no private network namespace";
    ASSERT_EQ(rc, 0);
    EXPECT_EQ(qbtest::read_file(seen_file),
              "POST /rpc/invoke {\"RPCServerId\":\"windows-rpc-server-1\",\"Function\":\"run\",\"Context\":"
              "{\"UserId\":\"u1\",\"AppId\":\"a\\\"1\",\"NodeId\":\"n1\",\"RPCPackageOSSPath\":\"oss:\\/\\/bucket\\/pkg.zip\"}}\n"
              "POST /rpc/invoke {\"RPCServerId\":\"windows-rpc-server-1\",\"Function\":\"f\",\"Context\":"
              "{\"UserId\":\"u1\",\"AppId\":\"a\\\"1\",\"NodeId\":\"\",\"RPCPackageOSSPath\":\"p\"}}\n");
    std::string log = qbtest::read_file(log_file);
    EXPECT_EQ(qbtest::count_of(log, "Parameter --stream-node-id missing, sending \"\""), 2) << log;
    EXPECT_EQ(qbtest::count_of(log, "Namespace 127.0.0.1/x? is not a host name part, nothing sent"), 1) << log;
    EXPECT_EQ(qbtest::count_of(log, "longer than 1023 bytes, nothing sent"), 1) << log;
    EXPECT_EQ(qbtest::count_of(log, "quorbit namespace get failed\n"), 1) << log;
    EXPECT_EQ(qbtest::count_of(log, "CURL Target:http://quorbit-rpc.ns1.svc.cluster.local:7000/rpc/invoke\n"), 1) << log;
}

}  // namespace
