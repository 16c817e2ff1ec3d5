#include "ipc/ipc_test_support.h"
#include "secure_client.h"
#include "served_exporter.h"

#include <gtest/gtest.h>

namespace brivane::cli {
namespace {

using namespace brivane::testing;

using Auth = WebConfig::ClientAuth;

// Handshakes against a CA made here: the server alone, and each client-certificate policy with
// no certificate, one the CA signed and one it did not.
TEST(TlsContext, ServesHttpsAndAdmitsClientCertificatesAsThePolicySays) {
    TempDir folder;
    ASSERT_TRUE(makeTestCertificates(folder)) << readFile(folder / "openssl.log");
    auto service = std::make_shared<FakeService>();
    service->answerAtOnce(snapshotNaming("Mouse"));
    ServedListener agent(service);
    struct Case {
        Auth policy;
        bool admitsNone, admitsSigned, admitsStranger;
    };
    const Case cases[] = {
        {Auth::none, true, true, true},
        {Auth::requireAndVerify, false, true, false},
        {Auth::verifyIfGiven, true, true, false},
        {Auth::requireAny, false, true, true},
    };
    for (const auto& [policy, admitsNone, admitsSigned, admitsStranger] : cases) {
        WebConfig web;
        web.tls = WebConfig::Tls{folder / "server.pem", folder / "server.key",
                                 policy == Auth::none ? "" : folder / "ca.pem", policy};
        const ServedExporter served(agent.path(), 5000, web);
        const auto url = served.url("/metrics", "https");
        const auto admitted = [&](const std::string& certificate) {
            const auto got = fetch(url, {folder / "ca.pem", certificate});
            EXPECT_EQ(got.status == 0 || got.body.find("\nbrivane_up 1\n") != std::string::npos,
                      true)
                << got.body;
            return got.status == 200;
        };
        const auto named = static_cast<int>(policy);
        EXPECT_EQ(admitted(""), admitsNone) << named;
        EXPECT_EQ(admitted(folder / "client"), admitsSigned) << named;
        EXPECT_EQ(admitted(folder / "stranger"), admitsStranger) << named;
        // Plain HTTP to a TLS port gets no answer, and the server goes on serving.
        EXPECT_EQ(fetch(served.url()).status, 0);
        EXPECT_EQ(admitted(folder / "client"), admitsSigned) << named;
    }
}

} // namespace
} // namespace brivane::cli
