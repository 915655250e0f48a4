#pragma once
// Tests run as root, and root writes every file whatever its mode. A body that must meet the
// permissions as an ordinary user meets them runs here in a child process as "nobody".

#include <sys/types.h>

#include <functional>

namespace sejfko::test {

// The user the child runs as when the tests run as root.
constexpr uid_t UnprivilegedUser = 65534;
constexpr gid_t UnprivilegedGroup = 65534;

// Runs `body` in a forked child as UnprivilegedUser (or as the test's own user when it is not
// root) and returns what it returned (0..255); -1 when the child could not drop its privileges,
// threw or did not end normally. The child shares nothing with the test after the fork: report
// through the result only.
int RunUnprivileged(const std::function<int()>& body);

}  // namespace sejfko::test
