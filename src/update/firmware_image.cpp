#include "update/firmware_image.h"

#include <QFile>

namespace nx7
{

namespace
{
QString& RootOverride()
{
    static QString root;
    return root;
}
} // namespace

void SetFirmwareResourceRoot(const QString& root)
{
    QString r = root;
    if (!r.isEmpty() && !r.endsWith(QLatin1Char('/')))
        r += QLatin1Char('/');
    RootOverride() = r;
}

QString FirmwareResourcePath(const QString& firmwareId)
{
    const QString root = RootOverride().isEmpty() ? QStringLiteral(":/RCDATAT/") : RootOverride();
    return root + firmwareId;
}

QByteArray LoadFirmwareImage(const QString& firmwareId, QString* error)
{
    const QString path = FirmwareResourcePath(firmwareId);
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        if (error)
            *error = QStringLiteral("ファームウェアのイメージが見つかりませんでした。\n\n") + path;
        return {};
    }
    QByteArray image = file.readAll();
    // An empty image would only make the board reject the upload later, with a vaguer message.
    if (image.isEmpty()) {
        if (error)
            *error = QStringLiteral("ファームウェアのイメージを読み込めませんでした。\n\n") + path;
        return {};
    }
    if (error)
        error->clear();
    return image;
}

} // namespace nx7
