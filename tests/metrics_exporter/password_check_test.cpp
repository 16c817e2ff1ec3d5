#include "ipc/ipc_test_support.h"
#include "metrics-exporter/password_check.h"
#include "secure_client.h"
#include "served_exporter.h"

#include <atomic>
#include <crypt.h>
#include <gtest/gtest.h>
#include <thread>

namespace brivane::cli {
namespace {

using namespace brivane::testing;

using namespace std::chrono_literals;

std::string bcryptHash(const std::string& prefix, const std::string& password, int cost) {
    char setting[CRYPT_GENSALT_OUTPUT_SIZE];
    crypt_data state{};
    EXPECT_TRUE(crypt_gensalt_rn(prefix.c_str(), cost, nullptr, 0, setting, sizeof setting));
    return crypt_r(password.c_str(), setting, &state);
}

TEST(PasswordCheck, TakesBasicCredentials) {
    std::string user, password;
    ASSERT_TRUE(basicCredentials("basic YWxpY2U6YTpi", user, password)); // alice:a:b
    EXPECT_EQ(user + "|" + password, "alice|a:b");
    ASSERT_TRUE(basicCredentials("Basic Ym9iOg==", user, password)); // bob:
    EXPECT_EQ(user + "|" + password, "bob|");
    for (const char* refused :
         {"Bearer YWxpY2U6YQ==", "Basic YWxpY2U", "Basic Ym9i", "Basic !!!!", "Basic "}) {
        EXPECT_FALSE(basicCredentials(refused, user, password)) << refused;
    }
}

// Each bcrypt variant admits its password, and no other; a user's hash of another scheme never
// matches, whatever the C library could check.
TEST(PasswordCheck, AdmitsEveryBcryptVariantAndAnswersAWrongPassword401) {
    auto service = std::make_shared<FakeService>();
    service->answerAtOnce(snapshotNaming("Mouse"));
    ServedListener agent(service);
    WebConfig web;
    for (const auto* prefix : {"$2a$", "$2b$", "$2y$"}) {
        web.users[prefix] = bcryptHash(prefix, "secret", 4);
    }
    crypt_data state{};
    web.users["sha"] = crypt_r("secret", "$6$salt", &state);
    const ServedExporter served(agent.path(), 5000, web);
    for (const auto& [user, hash] : web.users) {
        const auto admitted = fetch(served.url(), {.credentials = user + ":secret"});
        EXPECT_EQ(admitted.status, user == "sha" ? 401 : 200) << user;
        EXPECT_EQ(fetch(served.url(), {.credentials = user + ":Secret"}).status, 401) << user;
    }
    const auto refused = fetch(served.url("/"), {.credentials = "nobody:secret"});
    EXPECT_EQ(refused.status, 401);
    EXPECT_NE(refused.headers.find("WWW-Authenticate: Basic"), std::string::npos);
    EXPECT_EQ(fetch(served.url()).status, 401);
}

// A bcrypt check takes tens of milliseconds; a crowd of wrong passwords must queue for them
// without delaying a scraper whose password was checked before.
TEST(PasswordCheck, AFloodOfWrongPasswordsDoesNotDelayAnAdmittedScraper) {
    auto service = std::make_shared<FakeService>();
    service->answerAtOnce(snapshotNaming("Mouse"));
    ServedListener agent(service);
    WebConfig web;
    web.users["prometheus"] = bcryptHash("$2y$", "right", 10);
    const ServedExporter served(agent.path(), 5000, web);
    const FetchOptions scraper{.credentials = "prometheus:right"};
    ASSERT_EQ(fetch(served.url(), scraper).status, 200);

    std::atomic<bool> flooding = true;
    std::atomic<int> wronglyAdmitted = 0;
    std::vector<std::thread> flood;
    for (int i = 0; i < 8; ++i) {
        flood.emplace_back([&, i] {
            for (int n = 0; flooding; ++n) {
                const auto got = fetch(served.url(), {.credentials = "prometheus:wrong" +
                                                                     std::to_string(i * 1000 + n)});
                wronglyAdmitted += got.status == 200;
            }
        });
    }
    std::this_thread::sleep_for(300ms);
    auto slowest = 0ms;
    for (int i = 0; i < 20; ++i) {
        const auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(fetch(served.url(), scraper).status, 200);
        slowest = std::max(slowest, std::chrono::duration_cast<std::chrono::milliseconds>(
                                        std::chrono::steady_clock::now() - start));
    }
    flooding = false;
    for (auto& thread : flood) {
        thread.join();
    }
    EXPECT_EQ(wronglyAdmitted, 0);
    // Under a sanitizer, or two compilers beside it, everything is slower; one bcrypt is not.
    EXPECT_LT(slowest, 250ms);
}

} // namespace
} // namespace brivane::cli
