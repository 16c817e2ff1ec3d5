#include "backends/posix/trust/cms_signature.h"
#include "backends/posix/trust/exe_signature_source.h"
#include "support/child_process.h"
#include "support/temp_dir.h"
#include "update/installer_signature.h"

#include <atomic>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <functional>
#include <grp.h>
#include <gtest/gtest.h>
#include <memory>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace brivane::testing {
namespace {

using namespace brivane::platform::posix;

const std::string certificates = BRIVANE_TEST_DEVELOPMENT_CERTIFICATES;
const std::string team = BRIVANE_TEAM_ID;

std::span<const unsigned char> bytesOf(const std::string& text) {
    return {reinterpret_cast<const unsigned char*>(text.data()), text.size()};
}

// The build's certificates, and a foreign anchor with a team and an installer certificate.
class Codesign : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        temp_ = std::make_unique<TempDir>("brivane-codesign");
        temp_->write("payload", "payload");
        ASSERT_EQ(runCommand({"sh", BRIVANE_TEST_CERTIFICATE_SCRIPT, foreign(), "FOREIGN000"},
                             pathEnvironment(), *temp_ / "output")
                      .status,
                  0);
    }
    static void TearDownTestSuite() { temp_.reset(); }

    static std::string foreign() { return *temp_ / "foreign"; }
    static CommandResult codesign(std::vector<std::string> argv) {
        argv.insert(argv.begin(), BRIVANE_TEST_CODESIGN);
        return runCommand(argv, pathEnvironment(), *temp_ / "output");
    }
    // A new executable `name` signed as `identifier` with folder's team certificate.
    static std::string signedProgram(const std::string& name, const std::string& identifier,
                                     const std::string& folder = certificates) {
        temp_->write(name, "#!/bin/sh\necho " + name + "\n", 0755);
        EXPECT_EQ(codesign({"sign", "--identifier", identifier, "--certificate",
                            folder + "/team.pem", "--key", folder + "/team-key.pem", *temp_ / name})
                      .status,
                  0);
        return *temp_ / name;
    }
    // The payload as a new package signed with folder's installer or team certificate.
    static std::string package(const std::string& folder = certificates,
                               const std::string& kind = "team") {
        const auto out = *temp_ / (kind + std::to_string(++packages_) + ".pkg");
        EXPECT_EQ(codesign({"package", "--certificate", folder + "/" + kind + ".pem", "--key",
                            folder + "/" + kind + "-key.pem", *temp_ / "payload", out})
                      .status,
                  0);
        return out;
    }

    static inline std::unique_ptr<TempDir> temp_;
    static inline int packages_ = 0;
};

TEST_F(Codesign, VerifiesToItsAnchorOnlyAndRejectsTamperingAndGarbage) {
    const auto result = CmsVerifier().verify(bytesOf(readFile(package(certificates, "installer"))));
    ASSERT_TRUE(result.verified) << result.error;
    EXPECT_EQ(result.content, "payload");
    ASSERT_EQ(result.chain.size(), 2u);
    EXPECT_EQ(result.chain[0].organizationalUnit, BRIVANE_TEAM_ID);
    EXPECT_TRUE(isInstallerCertificate(result.chain[0]));
    EXPECT_EQ(result.chain[1].commonName, "Brivane Development Root");

    const auto foreignPackage = readFile(package(foreign(), "installer"));
    EXPECT_FALSE(CmsVerifier().verify(bytesOf(foreignPackage)).verified);
    const CmsVerifier foreignAnchor(readFile(foreign() + "/anchor.pem"));
    EXPECT_TRUE(foreignAnchor.verify(bytesOf(foreignPackage)).verified);
    EXPECT_FALSE(CmsVerifier("").verify(bytesOf(foreignPackage)).verified);

    auto tampered = readFile(package(certificates, "installer"));
    const auto at = tampered.find("payload");
    ASSERT_NE(at, std::string::npos);
    tampered[at] = 'P';
    EXPECT_FALSE(CmsVerifier().verify(bytesOf(tampered)).verified);

    for (const std::string& garbage :
         {std::string(), std::string("\x30\x82\xff\xff", 4), std::string(100, '\0')}) {
        const auto result = CmsVerifier().verify(bytesOf(garbage));
        EXPECT_FALSE(result.verified);
        EXPECT_FALSE(result.error.empty());
    }
}

// Admission workers share one verifier; under ThreadSanitizer this shows any state that the
// verifications write into the shared anchors.
TEST_F(Codesign, OneVerifierServesThreadsAtOnce) {
    const auto signature = readFile(package(certificates, "team"));
    for (int round = 0; round < 10; ++round) {
        const CmsVerifier verifier;
        std::atomic<int> ready = 0, verified = 0;
        std::vector<std::jthread> threads;
        for (int thread = 0; thread < 4; ++thread) {
            threads.emplace_back([&] {
                for (++ready; ready < 4;) {
                }
                verified += verifier.verify(bytesOf(signature)).verified;
            });
        }
        threads.clear();
        EXPECT_EQ(verified, 4);
    }
}

TEST(ExecutableSignatureContent, RoundTripsAndRejectsMalformedText) {
    const std::string digest(64, 'c');
    const auto parsed =
        parseExecutableSignatureContent(executableSignatureContent("dev.qorva.brivane", digest));
    ASSERT_TRUE(parsed);
    EXPECT_EQ(std::pair(parsed->identifier, parsed->executableSha256),
              std::pair(std::string("dev.qorva.brivane"), digest));
    for (const std::string& bad : std::vector<std::string>{
             "", "identifier=\nexecutable-sha256=" + digest + "\n",
             "identifier=a\nexecutable-sha256=abc\n", "identifier=a\nexecutable-sha256=" + digest,
             "name=a\nexecutable-sha256=" + digest + "\n"}) {
        EXPECT_FALSE(parseExecutableSignatureContent(bad)) << bad;
    }
}

// The updater runs these with exactly these arguments on the downloaded package.
TEST_F(Codesign, StandInToolsAnswerLikeThePackageAndPolicyTools) {
    const auto installer = package(certificates, "installer");
    const auto foreignPackage = package(foreign(), "installer");
    const auto tool = [](std::vector<std::string> argv, const std::string& file) {
        argv.push_back(file);
        return codesign(argv);
    };
    const std::vector<std::string> check = {"pkgutil", "--check-signature"};
    const std::vector<std::string> assess = {"spctl", "--assess", "--type", "install"};

    const auto checked = tool(check, installer);
    ASSERT_EQ(checked.status, 0);
    EXPECT_TRUE(hasInstallerCertificateLine(checked.output, BRIVANE_TEAM_ID)) << checked.output;
    EXPECT_FALSE(hasInstallerCertificateLine(checked.output, "OTHER"));
    EXPECT_EQ(tool(assess, installer).status, 0);
    EXPECT_NE(tool(check, foreignPackage).status, 0);
    EXPECT_NE(tool(assess, foreignPackage).status, 0);
    // Verifies, but the leaf is not an installer certificate.
    EXPECT_NE(tool(assess, package(certificates, "team")).status, 0);
}

TEST_F(Codesign, VerifyNamesTheSignerOrWhyItRefuses) {
    namespace fs = std::filesystem;
    const struct {
        const char* name;
        std::function<std::string()> executable;
        int status;
        std::string tail; // the end of the output
    } cases[] = {
        {"signed", [] { return signedProgram("a", "dev.example.one"); }, 0,
         "identifier: dev.example.one\nteam: " + team + "\n1. Brivane Development (" + team +
             ")\n2. Brivane Development Root\nverified: yes\n"},
        {"changed after signing",
         [] {
             const auto path = signedProgram("b", "dev.example.one");
             std::ofstream(path, std::ios::app) << "echo changed\n";
             return path;
         },
         1, "verified: no (executable changed after signing)\n"},
        {"a foreign anchor's", [] { return signedProgram("c", "dev.example.one", foreign()); }, 1,
         "verified: no ("},
        {"a package as its signature",
         [] {
             const auto path = signedProgram("d", "dev.example.one");
             fs::copy_file(package(), path + ".sig", fs::copy_options::overwrite_existing);
             return path;
         },
         1, "verified: no (not an executable signature)\n"},
        {"no signature",
         [] {
             temp_->write("e", "#!/bin/sh\n", 0755);
             return *temp_ / "e";
         },
         1, "verified: no (executable or signature unreadable)\n"},
    };
    for (const auto& c : cases) {
        const auto result = codesign({"verify", c.executable()});
        EXPECT_EQ(result.status, c.status) << c.name;
        EXPECT_NE(result.output.find(c.tail), std::string::npos) << c.name << ":\n"
                                                                 << result.output;
        if (c.status != 0) {
            EXPECT_EQ(result.output.find("verified: yes"), std::string::npos) << c.name;
        }
    }
}

const std::string agentIdentifier = "dev.qorva.brivane.SensorCompanion";

// A new client process of user's checks program, keeping verdicts in folder: whether it was
// taken for the agent, and how many times it was hashed.
std::pair<bool, int> checkAs(const passwd& user, const std::string& program,
                             const std::string& folder) {
    int answer[2];
    if (::pipe(answer) != 0) {
        return {false, -1};
    }
    const pid_t child = ::fork();
    if (child == 0) {
        ExeSignatureSource source(std::make_shared<const CmsVerifier>(), folder);
        char result[2] = {'-', '-'};
        if (::setgroups(0, nullptr) == 0 && ::setgid(user.pw_gid) == 0 &&
            ::setuid(user.pw_uid) == 0) {
            const auto signature = source.signatureOfFile(program);
            result[0] = signature && signature->identifier == agentIdentifier ? 'y' : 'n';
            result[1] = static_cast<char>('0' + source.verifications());
        }
        ::_exit(::write(answer[1], result, 2) == 2 ? 0 : 1);
    }
    ::close(answer[1]);
    char result[2] = {};
    const bool read = ::read(answer[0], result, 2) == 2;
    ::close(answer[0]);
    ::waitpid(child, nullptr, 0);
    return {read && result[0] == 'y', read ? result[1] - '0' : -1};
}

// What an event loop may decide alone: only the very file verified before, at the path it was
// verified at; an unknown program, or another file put in its place, needs a full check.
TEST_F(Codesign, KnownSignaturesAreOnlyThoseOfTheFileVerified) {
    const std::string program = *temp_ / "resting";
    const auto install = [&] {
        std::filesystem::copy_file("/bin/sleep", program + ".new");
        std::filesystem::rename(program + ".new", program);
        EXPECT_EQ(
            codesign({"sign", "--identifier", "dev.test.resting", "--certificate",
                      certificates + "/team.pem", "--key", certificates + "/team-key.pem", program})
                .status,
            0);
    };
    platform::PeerInfo peer;
    const auto run = [&](ChildProcess& process) {
        peer.pid = process.pid(); // once it runs the program, not the test
        const auto exe = "/proc/" + std::to_string(peer.pid) + "/exe";
        EXPECT_TRUE(pollUntil(std::chrono::seconds(5), [&] {
            std::error_code error;
            return std::filesystem::read_symlink(exe, error) == program;
        }));
    };
    install();
    ExeSignatureSource source(std::make_shared<const CmsVerifier>());
    ChildProcess first({program, "30"}, {}, *temp_ / "output");
    run(first);
    EXPECT_TRUE(source.knownSignatureOf(peer).unknown());
    ASSERT_TRUE(source.signatureOf(peer));
    const auto known = source.knownSignatureOf(peer);
    ASSERT_TRUE(known.admitted());
    EXPECT_EQ(known.admitted()->identifier, "dev.test.resting");
    install(); // another file at the path: neither process is known any more
    EXPECT_TRUE(source.knownSignatureOf(peer).unknown());
    ChildProcess second({program, "30"}, {}, *temp_ / "output");
    run(second);
    EXPECT_TRUE(source.knownSignatureOf(peer).unknown());
    // A refusal is known as one, not left for another full check.
    install();
    std::ofstream(program, std::ios::app) << "changed after signing";
    ChildProcess third({program, "30"}, {}, *temp_ / "output");
    run(third);
    EXPECT_FALSE(source.signatureOf(peer));
    EXPECT_TRUE(source.knownSignatureOf(peer).refused());
    EXPECT_EQ(source.verifications(), 2u);
}

// Later runs take a verdict from the runtime directory only while nothing but root could have
// changed the executable: a modified, replaced or unsigned one, and one of the user's own
// whatever verdict a program of the user wrote for it, are verified again.
TEST_F(Codesign, KeptVerdictsSpareLaterRunsOnlyWhatOnlyRootCouldChange) {
    struct statvfs mount {};
    if (::geteuid() != 0 || ::statvfs(temp_->path().c_str(), &mount) != 0 ||
        (mount.f_flag & ST_NOSUID) != 0) {
        GTEST_SKIP() << "needs root, and a temporary folder where set-user-id bits count";
    }
    const passwd* user = ::getpwnam("nobody");
    ASSERT_TRUE(user);
    const auto run = *temp_ / "run", kept = run + "/" + std::string(KeptVerdicts::fileName);
    temp_->makeDirectory("run");
    ASSERT_EQ(::chown(run.c_str(), user->pw_uid, user->pw_gid) | ::chmod(run.c_str(), 0700) |
                  ::chmod(temp_->path().c_str(), 0755),
              0);
    const auto agent = signedProgram("agent", agentIdentifier);
    const auto chownFolder = [&](uid_t owner) { return ::chown(temp_->path().c_str(), owner, -1); };
    const auto replace = [&](const std::string& text) {
        temp_->write("new", text, 0755);
        std::filesystem::rename(*temp_ / "new", agent);
    };
    // The kept verdict, moved onto the executable and signature file as they are now.
    const auto forge = [&] {
        auto text = readFile(kept);
        const auto line = text.find('\n') + 1;
        auto end = line;
        std::string identities;
        for (const auto& file : {agent, agent + ".sig"}) {
            struct stat now {};
            ASSERT_EQ(::stat(file.c_str(), &now), 0);
            const auto ns = [](timespec time) {
                return std::to_string(time.tv_sec * 1'000'000'000 + time.tv_nsec) + ' ';
            };
            identities += std::to_string(now.st_dev) + ' ' + std::to_string(now.st_ino) + ' ' +
                          std::to_string(now.st_size) + ' ' + ns(now.st_mtim) + ns(now.st_ctim);
        }
        for (int field = 0; field < 10; ++field) {
            end = text.find(' ', end) + 1;
        }
        text.replace(line, end - line, identities);
        std::ofstream(kept) << text;
    };
    const struct {
        const char* what;
        std::function<void()> change;
        std::pair<bool, int> admittedAndHashed;
    } steps[] = {
        {"first run", [] {}, {true, 1}},
        {"second run", [] {}, {true, 0}},
        {"modified in place, its time put back",
         [&] {
             struct stat before {};
             ASSERT_EQ(::stat(agent.c_str(), &before), 0);
             std::fstream(agent, std::ios::in | std::ios::out).seekp(-2, std::ios::end).put('X');
             const timespec times[] = {before.st_atim, before.st_mtim};
             ASSERT_EQ(::utimensat(AT_FDCWD, agent.c_str(), times, 0), 0);
         },
         {false, 1}},
        {"signed again", [&] { signedProgram("agent", agentIdentifier); }, {true, 1}},
        {"replaced by a copy", [&] { replace(readFile(agent)); }, {true, 1}},
        {"a corrupt file", [&] { std::ofstream(kept) << "brivane\n"; }, {true, 1}},
        {"its rewritten verdict", [] {}, {true, 0}},
        {"in a folder of the user's", [&] { ASSERT_EQ(chownFolder(user->pw_uid), 0); }, {true, 1}},
        {"back in root's, replaced by another program",
         [&] {
             ASSERT_EQ(chownFolder(0), 0);
             replace("#!/bin/sh\necho x\n");
         },
         {false, 1}},
        {"the user's own, with a forged verdict",
         [&] {
             ASSERT_EQ(::chown(agent.c_str(), user->pw_uid, -1), 0);
             forge();
         },
         {false, 1}},
        {"root's, signed as another, with a forged verdict",
         [&] {
             signedProgram("agent", "dev.qorva.brivane");
             ASSERT_EQ(::chown(agent.c_str(), 0, -1), 0);
             forge();
         },
         {false, 1}},
    };
    for (const auto& step : steps) {
        step.change();
        EXPECT_EQ(checkAs(*user, agent, run), step.admittedAndHashed) << step.what;
    }
}

TEST_F(Codesign, MalformedCommandsExitTwoAndUnreadableInputsOne) {
    const auto program = signedProgram("f", "dev.example.two");
    const std::pair<std::vector<std::string>, int> cases[] = {
        {{}, 2},
        {{"unknown"}, 2},
        {{"sign", program}, 2},
        {{"sign", "--identifier", "x", "--certificate", certificates + "/team.pem", program,
          "--key"},
         2},
        {{"sign", "--bogus", "x", program}, 2},
        {{"verify"}, 2},
        {{"package", "--certificate", "c", "--key", "k", program}, 2},
        {{"pkgutil", program}, 2},
        {{"spctl", "--assess", program}, 2},
        {{"sign", "--identifier", "x", "--certificate", *temp_ / "none", "--key", *temp_ / "none",
          program},
         1},
        {{"pkgutil", "--check-signature", *temp_ / "none"}, 1},
        {{"spctl", "--assess", "--type", "install", *temp_ / "none"}, 1},
    };
    for (const auto& [words, status] : cases)
        EXPECT_EQ(codesign(words).status, status) << ::testing::PrintToString(words);
}

} // namespace
} // namespace brivane::testing
