#pragma once
// A full disk on demand: a small tmpfs in a private mount namespace of a child process. Needs the
// right to make a mount namespace and to mount (root, as CI runs); tests skip where it is missing.
#include <QByteArray>
#include <QFile>
#include <QString>
#include <functional>
#include <sched.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

namespace nx7::test
{

constexpr int kNoSmallDisk = 253;

// Runs `check` in a child process in which a tmpfs of `kib` KiB is mounted on `folder` (hiding
// what was there; the mount goes away with the child). Returns the child's exit status,
// kNoSmallDisk when no mount namespace or mount is permitted here, -1 when the child did not end
// normally. A check using EXPECT_* returns `::testing::Test::HasFailure()`: the failures are
// printed by the child.
inline int RunOnSmallDisk(const QString& folder, int kib, const std::function<int()>& check)
{
    const pid_t pid = fork();
    if (pid < 0)
        return -1;
    if (pid == 0) {
        const QByteArray where = QFile::encodeName(folder);
        const QByteArray size = "size=" + QByteArray::number(kib) + "k";
        // Private first, so the mount never shows outside the child.
        if (unshare(CLONE_NEWNS) != 0 || mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
            mount("tmpfs", where.constData(), "tmpfs", 0, size.constData()) != 0)
            _exit(kNoSmallDisk);
        _exit(check());
    }
    int status = 0;
    if (waitpid(pid, &status, 0) != pid || !WIFEXITED(status))
        return -1;
    return WEXITSTATUS(status);
}

// Fills the file system holding `folder` with "<folder>/filler" until a write fails for want of
// space.
inline bool FillDisk(const QString& folder)
{
    QFile filler(folder + QStringLiteral("/filler"));
    if (!filler.open(QIODevice::WriteOnly | QIODevice::Unbuffered))
        return false;
    const QByteArray block(4096, 'f');
    while (filler.write(block) == block.size()) {
    }
    while (filler.write("f", 1) == 1) {
    }
    return true;
}

} // namespace nx7::test
