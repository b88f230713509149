#pragma once
// Runs a check in a child process without root's rights, so folder and file permissions apply as
// they do to an ordinary user (root writes anywhere but on a read-only mount).
#include <functional>
#include <grp.h>
#include <sys/wait.h>
#include <unistd.h>

namespace nx7::test
{

constexpr int kUnprivilegedId = 65534; // nobody / nogroup

// `check` runs in the child; its result is the child's exit status (0..255). -1 when the child
// could not be started or did not end normally, 254 when it could not drop root's rights.
inline int RunUnprivileged(const std::function<int()>& check)
{
    const pid_t pid = fork();
    if (pid < 0)
        return -1;
    if (pid == 0) {
        if (geteuid() == 0 &&
            (setgroups(0, nullptr) != 0 || setgid(kUnprivilegedId) != 0 || setuid(kUnprivilegedId) != 0))
            _exit(254);
        _exit(check());
    }
    int status = 0;
    if (waitpid(pid, &status, 0) != pid || !WIFEXITED(status))
        return -1;
    return WEXITSTATUS(status);
}

} // namespace nx7::test
