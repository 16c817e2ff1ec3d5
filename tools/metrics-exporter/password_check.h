#pragma once

#include "base/serial_queue.h"

#include <array>
#include <cstddef>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <string_view>

namespace brivane::cli {

// Checks the password of a request's basic authentication against the user's bcrypt hash. A
// check costs tens of milliseconds of a core, so it runs on a thread of its own, never on the
// serving loop, and the credentials of a check that succeeded are remembered (as a digest), so a
// scraper pays it once. A crowd of wrong passwords therefore waits for that thread and delays
// neither the loop nor a scraper that was admitted before. All calls but the worker's own come
// from one thread, the loop's.
class PasswordCheck {
public:
    enum class Verdict { admitted, refused, pending, busy };
    // Runs a task on the loop's thread.
    using Post = std::function<void(std::function<void()>)>;

    explicit PasswordCheck(Post post);

    // The verdict on an Authorization header at once when it can be told without bcrypt;
    // pending when it was queued (decided calls decided later on the loop), busy when
    // mostWaiting checks wait already.
    Verdict check(const std::map<std::string, std::string>& users, std::string_view authorization,
                  std::function<void(bool)> decided);

    static constexpr std::size_t mostWaiting = 8;
    static constexpr std::size_t mostRemembered = 64;

private:
    using Digest = std::array<unsigned char, 32>;

    Post post_;
    std::string dummySetting_; // checked for unknown users, so they take as long as known ones
    std::set<Digest> verified_;
    std::size_t waiting_ = 0;
    base::SerialQueue worker_{"dev.qorva.brivane.export.passwords"};
};

// Whether password hashes to hash under bcrypt ($2a$, $2b$ or $2y$); other schemes never match.
bool bcryptMatches(const std::string& password, const std::string& hash);

// The user and password of a "Basic" Authorization header.
bool basicCredentials(std::string_view authorization, std::string& user, std::string& password);

} // namespace brivane::cli
