#include "dialogs/version_info.h"

#include <QStringList>
#include <optional>

#ifndef NX7_VERSION
#define NX7_VERSION "0.0.0.0"
#endif

namespace nx7
{

namespace
{
std::optional<QMap<QString, QString>>& OverrideTable()
{
    static std::optional<QMap<QString, QString>> table;
    return table;
}
} // namespace

QString VersionInfoKey(int index)
{
    switch (index) {
    case 0:
        return QStringLiteral("CompanyName");
    case 1:
        return QStringLiteral("FileDescription");
    case 2:
        return QStringLiteral("FileVersion");
    case 3:
        return QStringLiteral("InternalName");
    case 4:
        return QStringLiteral("LegalCopyright");
    case 5:
        return QStringLiteral("OriginalFilename");
    case 7:
        return QStringLiteral("ProductName");
    default:
        return QStringLiteral("ProductVersion");
    }
}

QString FourPartVersion(const QString& version)
{
    QStringList parts = version.split(QLatin1Char('.'));
    while (parts.size() < 4)
        parts.append(QStringLiteral("0"));
    for (QString& part : parts) {
        if (part.isEmpty())
            part = QStringLiteral("0");
    }
    return parts.mid(0, 4).join(QLatin1Char('.'));
}

QMap<QString, QString> BuiltInVersionStrings()
{
    const QString version = FourPartVersion(QStringLiteral(NX7_VERSION));
#ifdef Q_OS_WIN
    const QString fileName = QStringLiteral("nx7ifbprog.exe");
#else
    const QString fileName = QStringLiteral("nx7ifbprog");
#endif
    return {
        {QStringLiteral("CompanyName"), QStringLiteral("Orvanta")},
        {QStringLiteral("FileDescription"), QStringLiteral("I/Fボード ファームウェア書き込みツール")},
        {QStringLiteral("FileVersion"), version},
        {QStringLiteral("InternalName"), QStringLiteral("nx7ifbprog")},
        {QStringLiteral("LegalCopyright"), QStringLiteral("Copyright (C) Orvanta")},
        {QStringLiteral("OriginalFilename"), fileName},
        {QStringLiteral("ProductName"), QStringLiteral("I/Fボード ファームウェアアップデート")},
        {QStringLiteral("ProductVersion"), version},
    };
}

void SetVersionStrings(const QMap<QString, QString>& strings)
{
    OverrideTable() = strings;
}

void ResetVersionStrings()
{
    OverrideTable().reset();
}

QString GetVersionInfoText(int index)
{
    const auto& table = OverrideTable();
    const QString key = VersionInfoKey(index);
    if (table)
        return table->value(key);
    return BuiltInVersionStrings().value(key);
}

} // namespace nx7
