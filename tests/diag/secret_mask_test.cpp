// Masking of the passwords the tool knows, and of anything written like a password.
#include "diag/secret_mask.h"

#include "support/qt_printers.h"

#include <gtest/gtest.h>

namespace nx7::diag
{
namespace
{

TEST(SecretMask, KnownValuesAndPasswordShapes)
{
    const QStringList secrets = {QStringLiteral("KW5GDH4072"), QStringLiteral("Mervox"),
                                 QStringLiteral("MervoxTqLu")};
    const struct {
        QString in;
        QString out;
    } rows[] = {
        // The longer secret wins over the one it contains.
        {QStringLiteral("ap MervoxTqLu up KW5GDH4072"), QStringLiteral("ap *** up ***")},
        {QStringLiteral("\"espota\" -i 1.2.3.4 --auth=Other99 -f \"x\""),
         QStringLiteral("\"espota\" -i 1.2.3.4 --auth=*** -f \"x\"")},
        {QStringLiteral("--auth=\"with space\" -f"), QStringLiteral("--auth=*** -f")},
        {QStringLiteral("Password  : abcdefgh"), QStringLiteral("Password  : ***")},
        {QStringLiteral("パスワード：秘密の値"), QStringLiteral("パスワード：***")},
        // An empty value does not swallow the next line.
        {QStringLiteral("Password  : \n接続完了後OKを押してください。"),
         QStringLiteral("Password  : \n接続完了後OKを押してください。")},
        {QStringLiteral("Retrying with MD5 password..."), QStringLiteral("Retrying with MD5 password...")},
    };
    for (const auto& r : rows)
        EXPECT_EQ(MaskSecrets(r.in, secrets), r.out);
    // Too short to look for: the text stays readable.
    EXPECT_EQ(MaskSecrets(QStringLiteral("COM1 115200"), {QStringLiteral("1")}),
              QStringLiteral("COM1 115200"));
}

TEST(SecretMask, SettingsKeysNamedLikePasswords)
{
    const QString ini =
        QStringLiteral("[Option]\r\nComPort=3\r\nUploadPassword=abc123xyz\r\nwifi_pwd = q w e\r\n"
                       "AuthKey=\r\nTCPServAddr=192.168.0.10\r\n; Password=commented\r\n");
    EXPECT_EQ(MaskSettingsText(ini, {}),
              QStringLiteral("[Option]\r\nComPort=3\r\nUploadPassword=***\r\nwifi_pwd =***\r\n"
                             "AuthKey=***\r\nTCPServAddr=192.168.0.10\r\n; Password=***\r\n"));
}

} // namespace
} // namespace nx7::diag
