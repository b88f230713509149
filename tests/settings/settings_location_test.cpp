// Where the settings file lives: beside the executable when that can be written, else in the
// user's configuration folder. Checked as an ordinary user, where folder rights apply.
#include "platform/app_paths.h"
#include "settings/run_unprivileged.h"
#include "support/test_data.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <cstdlib>
#include <gtest/gtest.h>

namespace
{

using nx7::test::WriteAll;

constexpr auto kOpen = QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::ReadGroup |
                       QFile::WriteGroup | QFile::ExeGroup | QFile::ReadOther | QFile::WriteOther |
                       QFile::ExeOther;
constexpr auto kClosed = QFile::ReadOwner | QFile::ExeOwner | QFile::ReadGroup | QFile::ExeGroup |
                         QFile::ReadOther | QFile::ExeOther;

enum Place { Portable = 0, User = 1 };

struct LocationCase {
    const char* name;
    bool binWritable;
    int orvanta; // 0 missing, 1 writable, 2 not writable
    int file;    // 0 missing, 1 writable, 2 read-only
    Place place;
};

TEST(SettingsLocation, BesideTheExecutableWhenItCanBeWrittenElseInTheUsersConfigFolder)
{
    const LocationCase cases[] = {
        {"portable copy, first start", true, 0, 0, Portable},
        {"portable copy with its folder", true, 1, 1, Portable},
        {"installed, no folder beside it", false, 0, 0, User},
        {"installed, a writable file in a closed folder", false, 2, 1, Portable},
        {"installed, a read-only file in a closed folder", false, 2, 2, User},
        {"writable executable folder, closed settings folder", true, 2, 0, User},
    };
    for (const LocationCase& c : cases) {
        SCOPED_TRACE(c.name);
        QTemporaryDir dir;
        ASSERT_TRUE(dir.isValid());
        const QString bin = dir.filePath("bin");
        const QString config = dir.filePath("config");
        ASSERT_TRUE(QDir().mkpath(bin) && QDir().mkpath(config));
        if (c.orvanta) {
            ASSERT_TRUE(QDir().mkpath(bin + "/Orvanta"));
        }
        if (c.file) {
            ASSERT_TRUE(WriteAll(bin + "/Orvanta/Updater.ini", "[Option]\r\n"));
            ASSERT_TRUE(QFile::setPermissions(
                bin + "/Orvanta/Updater.ini",
                c.file == 1 ? kOpen & ~(QFile::ExeOwner | QFile::ExeGroup | QFile::ExeOther)
                            : QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther));
        }
        if (c.orvanta) {
            ASSERT_TRUE(QFile::setPermissions(bin + "/Orvanta", c.orvanta == 1 ? kOpen : kClosed));
        }
        ASSERT_TRUE(QFile::setPermissions(bin, c.binWritable ? kOpen : kClosed));
        ASSERT_TRUE(QFile::setPermissions(config, kOpen));
        ASSERT_TRUE(QFile::setPermissions(dir.path(), kClosed));

        const QString portable = bin + "/Orvanta/";
        const QString user = config + "/Orvanta/";
        const int status = nx7::test::RunUnprivileged([&] {
            setenv("XDG_CONFIG_HOME", config.toLocal8Bit().constData(), 1);
            nx7::SetExecutablePathOverride(bin + "/Updater.exe");
            const QString expected = c.place == Portable ? portable : user;
            if (nx7::PortableSettingsFolder() != portable || nx7::UserSettingsFolder() != user)
                return 10;
            if (nx7::SettingsFolder() != expected)
                return 11 + (nx7::SettingsFolder() == user ? 1 : 0);
            // The file path creates the folder in use.
            if (nx7::SettingsFilePath() != expected + "Updater.ini" || !QFileInfo(expected).isDir())
                return 13;
            return 0;
        });
        QFile::setPermissions(dir.path(), kOpen);
        QFile::setPermissions(bin, kOpen);
        if (c.orvanta)
            QFile::setPermissions(bin + "/Orvanta", kOpen);
        EXPECT_EQ(status, 0);
    }
}

} // namespace
