#pragma once
// The version strings of the executable and the index-to-key reader the About box uses.
#include <QMap>
#include <QString>

namespace nx7
{

// 0 CompanyName, 1 FileDescription, 2 FileVersion, 3 InternalName, 4 LegalCopyright,
// 5 OriginalFilename, 7 ProductName, any other index ProductVersion.
QString VersionInfoKey(int index);

// The value of the key of `index`; empty when the table lacks the key.
QString GetVersionInfoText(int index);

// The strings compiled into the executable (FileVersion/ProductVersion from the build's version,
// always four dotted parts).
QMap<QString, QString> BuiltInVersionStrings();

// Replaces the table GetVersionInfoText reads (an empty map acts as an executable without a
// version block); ResetVersionStrings goes back to the built-in one.
void SetVersionStrings(const QMap<QString, QString>& strings);
void ResetVersionStrings();

// "1.0" -> "1.0.0.0"; extra parts are dropped.
QString FourPartVersion(const QString& version);

} // namespace nx7
