// The Windows build has no zip library yet (libarchive is not cross-built): the bundle is refused
// with a cause that says so, and nothing is written.
#include "diag/support_bundle.h"

#include <QDir>

namespace nx7::diag
{

bool WriteSupportBundle(const SupportBundleInput&, const QString& zipPath, QString* error, BundleTarget)
{
    if (error)
        *error = QDir::toNativeSeparators(zipPath) +
                 QStringLiteral(": この Windows 版はサポート用の zip をまだ作れません");
    return false;
}

} // namespace nx7::diag
