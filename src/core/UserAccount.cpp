#include "UserAccount.h"

#include <cerrno>
#include <pwd.h>
#include <unistd.h>
#include <vector>

namespace {

// A database entry larger than this is not one we trust to be an account.
constexpr size_t kMaxBuffer = 1024 * 1024;

template <typename Lookup>
std::optional<UserAccount> lookUp(Lookup lookup) {
    const long hint = ::sysconf(_SC_GETPW_R_SIZE_MAX);
    std::vector<char> buffer(hint > 0 ? size_t(hint) : 16384);
    for (;;) {
        passwd entry{};
        passwd* found = nullptr;
        const int rc = lookup(&entry, buffer.data(), buffer.size(), &found);
        if (rc == EINTR)
            continue;
        if (rc == ERANGE && buffer.size() < kMaxBuffer) {
            buffer.resize(buffer.size() * 2);
            continue;
        }
        if (rc != 0 || !found || !found->pw_name || !*found->pw_name)
            return std::nullopt;
        return UserAccount{QByteArray(found->pw_name),
                           QByteArray(found->pw_dir ? found->pw_dir : "")};
    }
}

} // namespace

std::optional<UserAccount> UserAccount::byId(uid_t uid) {
    return lookUp([uid](passwd* entry, char* buffer, size_t size, passwd** found) {
        return ::getpwuid_r(uid, entry, buffer, size, found);
    });
}

std::optional<UserAccount> UserAccount::byName(const QByteArray& name) {
    if (name.isEmpty() || name.contains('\0'))
        return std::nullopt;
    return lookUp([&name](passwd* entry, char* buffer, size_t size, passwd** found) {
        return ::getpwnam_r(name.constData(), entry, buffer, size, found);
    });
}
