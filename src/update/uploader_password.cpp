#include "update/uploader_password.h"

#include "comm/uploader_handover.h"

#include <QByteArrayView>
#include <QFile>

namespace nx7
{

namespace
{
// An uploader executable is a few MiB; the bound keeps a wrong path to a huge file cheap.
constexpr qint64 kMarkerSearchLimit = 64LL * 1024 * 1024;
constexpr qint64 kMarkerReadChunk = 1024 * 1024;
} // namespace

bool IsOwnUploader(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    const QByteArrayView marker(handover::kOwnUploaderMarker);
    QByteArray window;
    qint64 read = 0;
    while (read < kMarkerSearchLimit) {
        const QByteArray chunk = file.read(kMarkerReadChunk);
        if (chunk.isEmpty())
            return false;
        read += chunk.size();
        // The end of the previous chunk stays in front, so a marker cut between two reads is found.
        window = window.right(marker.size() - 1) + chunk;
        if (window.contains(marker))
            return true;
    }
    return false;
}

QStringList UploaderPasswordArguments(UploaderLaunch& launch, const QString& password)
{
    // Through python3 the started program is not the uploader file itself.
    if (launch.problem.isEmpty() && launch.arguments.isEmpty() && IsOwnUploader(launch.path)) {
        launch.environment << QString::fromLatin1(handover::kPasswordVariable) + QLatin1Char('=') + password;
        return {QStringLiteral("--auth-env"), QString::fromLatin1(handover::kPasswordVariable)};
    }
    return {QStringLiteral("--auth=") + password};
}

} // namespace nx7
