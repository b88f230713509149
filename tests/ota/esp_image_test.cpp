#include "ota/esp_image.h"

#include <QCryptographicHash>
#include <QProcess>
#include <QTemporaryDir>
#include <QtEndian>
#include <gtest/gtest.h>

using namespace nx7::ota;

namespace
{

quint32 U32(const QByteArray& b, qsizetype at)
{
    return qFromLittleEndian<quint32>(b.constData() + at);
}

// Walks the segment table independently of ValidateImage.
struct Walk {
    QList<quint32> addresses;
    QList<quint32> offsets; // file offset of each segment's data
    quint8 checksum = 0xEF;
    qint64 end = 0; // first byte after the last segment
};

Walk WalkSegments(const QByteArray& img)
{
    Walk w;
    qint64 pos = 24;
    for (int i = 0; i < static_cast<quint8>(img.at(1)); ++i) {
        const quint32 len = U32(img, pos + 4);
        w.addresses.append(U32(img, pos));
        w.offsets.append(static_cast<quint32>(pos + 8));
        for (quint32 k = 0; k < len; ++k)
            w.checksum ^= static_cast<quint8>(img.at(pos + 8 + k));
        pos += 8 + len;
    }
    w.end = pos;
    return w;
}

TEST(EspImage, AppImagesOfManySizesAreValidAndCarryTheirVersion)
{
    for (qint64 size : {qint64(0), qint64(300), qint64(1000), qint64(65536), qint64(70001),
                        qint64(1536 * 1024), qint64(4 * 1024 * 1024)}) {
        SCOPED_TRACE(size);
        const QByteArray img = BuildAppImage(QStringLiteral("3030KMT27"), QStringLiteral("ifb"), size);
        EXPECT_EQ(static_cast<quint8>(img.at(0)), 0xE9);
        EXPECT_EQ(img.size() % 16, 0);
        EXPECT_GE(img.size(), qMax<qint64>(size, 336));
        EXPECT_LT(img.size(), qMax<qint64>(size, 336) + 16);

        const ImageCheck check = ValidateImage(img);
        ASSERT_TRUE(check.ok) << check.error.toStdString();
        EXPECT_TRUE(check.sha256Appended);
        EXPECT_EQ(check.checksumOffset % 16, 15);
        EXPECT_EQ(check.checksumOffset, img.size() - 33);
        ASSERT_TRUE(check.app.has_value());
        EXPECT_EQ(check.app->projectName, "ifb");
        EXPECT_EQ(AppVersionOfImage(img), QStringLiteral("3030KMT27"));

        const Walk w = WalkSegments(img);
        EXPECT_EQ(static_cast<quint8>(img.at(check.checksumOffset)), w.checksum);
        EXPECT_EQ(U32(img, 32), kAppDescMagic);
        EXPECT_EQ(img.right(32),
                  QCryptographicHash::hash(img.left(img.size() - 32), QCryptographicHash::Sha256));
        // Flash-mapped segments keep their file offset within the 64 KiB page.
        for (int i = 0; i < w.addresses.size(); ++i)
            EXPECT_EQ(w.addresses[i] % 0x10000, w.offsets[i] % 0x10000) << "segment " << i;
    }
}

TEST(EspImage, SameArgumentsGiveTheSameBytesAndOtherVersionsDiffer)
{
    const QByteArray a = BuildAppImage(QStringLiteral("V1"), QStringLiteral("p"), 5000);
    EXPECT_EQ(a, BuildAppImage(QStringLiteral("V1"), QStringLiteral("p"), 5000));
    EXPECT_NE(a, BuildAppImage(QStringLiteral("V2"), QStringLiteral("p"), 5000));
}

TEST(EspImage, BuildImagePadsSegmentsAndPlacesTheChecksumOnA16ByteBoundary)
{
    for (int extra = 0; extra < 20; ++extra) {
        ImageLayout layout;
        layout.appendSha256 = (extra % 2) == 0;
        layout.segments.append({0x3FFB0000, QByteArray(5 + extra, '\x5A')}); // not a multiple of 4
        layout.segments.append({0x40080000, QByteArray(8, '\x01')});
        const QByteArray img = BuildImage(layout);
        SCOPED_TRACE(extra);
        EXPECT_EQ(img.size() % 16, 0);
        const ImageCheck check = ValidateImage(img);
        ASSERT_TRUE(check.ok) << check.error.toStdString();
        EXPECT_EQ(check.segmentCount, 2);
        EXPECT_EQ(U32(img, 24 + 4) % 4, 0u);
        const Walk w = WalkSegments(img);
        EXPECT_EQ(static_cast<quint8>(img.at(check.checksumOffset)), w.checksum);
        EXPECT_EQ(check.checksumOffset, img.size() - (layout.appendSha256 ? 33 : 1));
        // No application description: not an application image.
        EXPECT_FALSE(check.app.has_value());
        EXPECT_TRUE(AppVersionOfImage(img).isEmpty());
    }
}

TEST(EspImage, ValidationFindsDamage)
{
    const QByteArray good = BuildAppImage(QStringLiteral("X"), QStringLiteral("p"), 4000);
    const qint64 seg0Len = U32(good, 28);
    const struct {
        const char* name;
        std::function<void(QByteArray&)> damage;
        const char* error;
    } cases[] = {
        {"magic", [](QByteArray& b) { b[0] = '\xE8'; }, "magic"},
        {"no segments", [](QByteArray& b) { b[1] = 0; }, "segment count"},
        {"too many segments", [](QByteArray& b) { b[1] = 17; }, "segment count"},
        {"data byte", [](QByteArray& b) { b[100] = static_cast<char>(b[100] ^ 1); }, "checksum"},
        {"hash byte", [](QByteArray& b) { b[b.size() - 1] = static_cast<char>(b[b.size() - 1] ^ 1); },
         "SHA-256"},
        {"truncated", [](QByteArray& b) { b.chop(1); }, "SHA-256 missing"},
        {"trailing byte", [](QByteArray& b) { b.append('\0'); }, "after the end"},
        {"odd segment length", [](QByteArray& b) { b[28] = static_cast<char>(b[28] + 1); }, "multiple of 4"},
        {"segment beyond end",
         [seg0Len](QByteArray& b) {
             qToLittleEndian<quint32>(static_cast<quint32>(seg0Len + 1024 * 1024), b.data() + 28);
         },
         "beyond the end"},
        {"header only", [](QByteArray& b) { b.truncate(10); }, "header"},
    };
    ASSERT_TRUE(ValidateImage(good).ok);
    for (const auto& c : cases) {
        QByteArray img = good;
        c.damage(img);
        const ImageCheck check = ValidateImage(img);
        EXPECT_FALSE(check.ok) << c.name;
        EXPECT_TRUE(check.error.contains(QLatin1String(c.error)))
            << c.name << ": " << check.error.toStdString();
    }
}

TEST(EspImage, VersionTextEdges)
{
    const struct {
        QString version;
        QString expected;
    } cases[] = {
        {QStringLiteral("3030KMT27"), QStringLiteral("3030KMT27")},
        {QString(31, QLatin1Char('v')), QString(31, QLatin1Char('v'))},
        {QString(40, QLatin1Char('v')), QString(31, QLatin1Char('v'))},
        // A two-byte character that would straddle the 31-byte limit is left out whole.
        {QString(30, QLatin1Char('a')) + QStringLiteral("é"), QString(30, QLatin1Char('a'))},
        {QStringLiteral(""), QStringLiteral("")},
    };
    for (const auto& c : cases) {
        const QByteArray img = BuildAppImage(c.version, QStringLiteral("p"), 1000);
        EXPECT_EQ(AppVersionOfImage(img), c.expected) << c.version.toStdString();
        EXPECT_TRUE(ValidateImage(img).ok);
    }
    // A version filling all 32 bytes has no terminator and is still read whole.
    AppDescription d;
    d.version = QByteArray(32, 'w');
    const auto back = DecodeAppDescription(EncodeAppDescription(d));
    ASSERT_TRUE(back.has_value());
    EXPECT_EQ(back->version, QByteArray(32, 'w'));
    EXPECT_EQ(EncodeAppDescription(d).size(), kAppDescSize);
}

TEST(EspImage, NotAnApplicationImageHasNoVersion)
{
    const QByteArray app = BuildAppImage(QStringLiteral("V"), QStringLiteral("p"), 1000);
    QByteArray badMagic = app;
    badMagic[0] = 0;
    QByteArray badDescMagic = app;
    badDescMagic[32] = 0;
    for (const QByteArray& img :
         {QByteArray(), QByteArray(1000, '\xE9'), badMagic, badDescMagic, app.left(200)})
        EXPECT_TRUE(AppVersionOfImage(img).isEmpty());
}

TEST(MkFwImage, WritesAValidImageAndRefusesBadArguments)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString out = dir.filePath(QStringLiteral("fw.bin"));
    QProcess p;
    p.start(QStringLiteral(NX7_MKFWIMAGE_PATH),
            {QStringLiteral("--version"), QStringLiteral("3030KMT27"), QStringLiteral("--size"),
             QStringLiteral("100000"), QStringLiteral("-o"), out});
    ASSERT_TRUE(p.waitForFinished(10000));
    EXPECT_EQ(p.exitCode(), 0) << p.readAllStandardError().constData();
    QFile f(out);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const QByteArray img = f.readAll();
    EXPECT_TRUE(ValidateImage(img).ok);
    EXPECT_EQ(AppVersionOfImage(img), QStringLiteral("3030KMT27"));
    EXPECT_NEAR(static_cast<double>(img.size()), 100000.0, 16.0);

    const QStringList bad[] = {
        {QStringLiteral("--version"), QString(32, QLatin1Char('x')), QStringLiteral("-o"), out},
        {QStringLiteral("--version"), QStringLiteral("V"), QStringLiteral("--size"), QStringLiteral("abc"),
         QStringLiteral("-o"), out},
        {QStringLiteral("--version"), QStringLiteral("V")},
        {QStringLiteral("--bogus")},
    };
    for (const QStringList& args : bad) {
        p.start(QStringLiteral(NX7_MKFWIMAGE_PATH), args);
        ASSERT_TRUE(p.waitForFinished(10000));
        EXPECT_EQ(p.exitCode(), 2) << args.join(' ').toStdString();
    }
}

} // namespace
