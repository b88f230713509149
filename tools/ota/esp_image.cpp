#include "ota/esp_image.h"

#include <QCryptographicHash>
#include <QtEndian>

namespace nx7::ota
{

namespace
{

constexpr quint32 kDromAddress = 0x3F400020;
constexpr quint32 kIromBase = 0x400D0000;
constexpr int kSha256Size = 32;
// Images up to this much segment data keep everything in one segment.
constexpr qint64 kSingleSegmentLimit = 64 * 1024;

void PutU32(QByteArray& out, quint32 v)
{
    char b[4];
    qToLittleEndian(v, b);
    out.append(b, 4);
}

quint32 GetU32(const QByteArray& in, qsizetype at)
{
    return qFromLittleEndian<quint32>(in.constData() + at);
}

void PutText(QByteArray& out, const QByteArray& text, int field)
{
    QByteArray t = text.left(field);
    t.resize(field, '\0');
    out.append(t);
}

QByteArray GetText(const QByteArray& in, qsizetype at, int field)
{
    QByteArray t = in.mid(at, field);
    const qsizetype nul = t.indexOf('\0');
    return nul < 0 ? t : t.left(nul);
}

// Cuts UTF-8 text to at most `max` bytes without splitting a character.
QByteArray CutUtf8(const QString& text, int max)
{
    QByteArray b = text.toUtf8();
    if (b.size() <= max)
        return b;
    qsizetype n = max;
    while (n > 0 && (static_cast<quint8>(b.at(n)) & 0xC0) == 0x80)
        --n;
    return b.left(n);
}

QByteArray Filler(quint32 seed, qint64 size)
{
    QByteArray out(size, '\0');
    quint32 x = seed ? seed : 0x9E3779B9u;
    for (qint64 i = 0; i < size; ++i) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        out[i] = static_cast<char>(x >> 24);
    }
    return out;
}

} // namespace

QByteArray EncodeAppDescription(const AppDescription& desc)
{
    QByteArray out;
    out.reserve(kAppDescSize);
    PutU32(out, kAppDescMagic);
    PutU32(out, desc.secureVersion);
    out.append(8, '\0');
    PutText(out, desc.version, 32);
    PutText(out, desc.projectName, 32);
    PutText(out, desc.time, 16);
    PutText(out, desc.date, 16);
    PutText(out, desc.idfVersion, 32);
    PutText(out, desc.elfSha256, 32);
    out.append(80, '\0');
    return out;
}

std::optional<AppDescription> DecodeAppDescription(const QByteArray& bytes)
{
    if (bytes.size() < kAppDescSize || GetU32(bytes, 0) != kAppDescMagic)
        return std::nullopt;
    AppDescription d;
    d.secureVersion = GetU32(bytes, 4);
    d.version = GetText(bytes, 16, 32);
    d.projectName = GetText(bytes, 48, 32);
    d.time = GetText(bytes, 80, 16);
    d.date = GetText(bytes, 96, 16);
    d.idfVersion = GetText(bytes, 112, 32);
    d.elfSha256 = bytes.mid(144, 32);
    return d;
}

QByteArray BuildImage(const ImageLayout& layout)
{
    QByteArray out;
    out.append(static_cast<char>(kImageMagic));
    out.append(static_cast<char>(layout.segments.size()));
    out.append(static_cast<char>(layout.spiMode));
    out.append(static_cast<char>(((layout.flashSize & 0x0F) << 4) | (layout.flashSpeed & 0x0F)));
    PutU32(out, layout.entryAddress);
    // Extended header: write-protect pin disabled, default drive strengths, chip id, revisions
    // 0..any, reserved, hash flag.
    out.append(static_cast<char>(0xEE));
    out.append(3, '\0');
    out.append(static_cast<char>(layout.chipId & 0xFF));
    out.append(static_cast<char>(layout.chipId >> 8));
    out.append('\0');
    out.append(2, '\0');
    out.append(2, static_cast<char>(0xFF));
    out.append(4, '\0');
    out.append(static_cast<char>(layout.appendSha256 ? 1 : 0));

    quint8 checksum = kChecksumSeed;
    for (const ImageSegment& seg : layout.segments) {
        QByteArray data = seg.data;
        data.resize((data.size() + 3) & ~qsizetype(3), '\0');
        PutU32(out, seg.loadAddress);
        PutU32(out, static_cast<quint32>(data.size()));
        out.append(data);
        for (char c : data)
            checksum ^= static_cast<quint8>(c);
    }
    while (out.size() % 16 != 15)
        out.append('\0');
    out.append(static_cast<char>(checksum));
    if (layout.appendSha256)
        out.append(QCryptographicHash::hash(out, QCryptographicHash::Sha256));
    return out;
}

QByteArray BuildAppImage(const QString& version, const QString& projectName, qint64 totalSize)
{
    AppDescription desc;
    desc.version = CutUtf8(version, kVersionFieldSize - 1);
    desc.projectName = CutUtf8(projectName, 31);
    desc.time = "00:00:00";
    desc.date = "Jan  1 2024";
    desc.idfVersion = "v4.4.7";
    desc.elfSha256 =
        QCryptographicHash::hash(desc.projectName + '\0' + desc.version, QCryptographicHash::Sha256);

    // Body before the hash: header, segments, 15 padding bytes and the checksum; a multiple of 16.
    const qint64 minBody = kImageHeaderSize + kSegmentHeaderSize + kAppDescSize + 16;
    const qint64 body = qMax(minBody, (totalSize - kSha256Size + 15) / 16 * 16);
    const qint64 data = body - kImageHeaderSize - 16; // segment headers plus segment data

    const quint32 seed =
        GetU32(QCryptographicHash::hash(desc.version + desc.projectName, QCryptographicHash::Md5), 0);
    ImageLayout layout;
    if (data - kSegmentHeaderSize <= kSingleSegmentLimit) {
        const qint64 len = data - kSegmentHeaderSize;
        layout.segments.append({kDromAddress, EncodeAppDescription(desc) + Filler(seed, len - kAppDescSize)});
    } else {
        const qint64 both = data - 2 * kSegmentHeaderSize; // a multiple of 8
        const qint64 len0 = (both / 2) & ~qint64(3);
        const qint64 len1 = both - len0;
        layout.segments.append(
            {kDromAddress, EncodeAppDescription(desc) + Filler(seed, len0 - kAppDescSize)});
        // A flash-mapped segment sits at the same offset within its 64 KiB page as in the file.
        const qint64 fileOffset = kImageHeaderSize + kSegmentHeaderSize + len0 + kSegmentHeaderSize;
        layout.segments.append({kIromBase + static_cast<quint32>(fileOffset % 0x10000), Filler(~seed, len1)});
    }
    return BuildImage(layout);
}

QString AppVersionOfImage(const QByteArray& image)
{
    if (image.size() < kImageHeaderSize + kSegmentHeaderSize + kAppDescSize ||
        static_cast<quint8>(image.at(0)) != kImageMagic || image.at(1) == 0)
        return {};
    if (GetU32(image, kImageHeaderSize + 4) < static_cast<quint32>(kAppDescSize))
        return {};
    const auto desc = DecodeAppDescription(image.mid(kImageHeaderSize + kSegmentHeaderSize, kAppDescSize));
    return desc ? QString::fromUtf8(desc->version) : QString();
}

ImageCheck ValidateImage(const QByteArray& image)
{
    ImageCheck r;
    auto fail = [&r](const QString& why) {
        r.ok = false;
        r.error = why;
        return r;
    };
    if (image.size() < kImageHeaderSize)
        return fail(QStringLiteral("shorter than the image header"));
    if (static_cast<quint8>(image.at(0)) != kImageMagic)
        return fail(QStringLiteral("wrong magic byte"));
    r.segmentCount = static_cast<quint8>(image.at(1));
    if (r.segmentCount < 1 || r.segmentCount > kMaxSegments)
        return fail(QStringLiteral("segment count %1 out of range").arg(r.segmentCount));
    const quint8 hashFlag = static_cast<quint8>(image.at(23));
    if (hashFlag > 1)
        return fail(QStringLiteral("bad hash flag %1").arg(hashFlag));
    r.sha256Appended = hashFlag == 1;

    quint8 checksum = kChecksumSeed;
    qint64 pos = kImageHeaderSize;
    for (int i = 0; i < r.segmentCount; ++i) {
        if (pos + kSegmentHeaderSize > image.size())
            return fail(QStringLiteral("segment %1 header beyond the end").arg(i));
        const quint32 len = GetU32(image, pos + 4);
        if (len % 4 != 0)
            return fail(QStringLiteral("segment %1 length %2 not a multiple of 4").arg(i).arg(len));
        pos += kSegmentHeaderSize;
        if (static_cast<qint64>(len) > image.size() - pos)
            return fail(QStringLiteral("segment %1 data beyond the end").arg(i));
        if (i == 0 && len >= static_cast<quint32>(kAppDescSize))
            r.app = DecodeAppDescription(image.mid(pos, kAppDescSize));
        for (qint64 k = 0; k < len; ++k)
            checksum ^= static_cast<quint8>(image.at(pos + k));
        pos += len;
    }
    r.checksumOffset = (pos / 16) * 16 + 15;
    if (r.checksumOffset >= image.size())
        return fail(QStringLiteral("checksum byte beyond the end"));
    if (static_cast<quint8>(image.at(r.checksumOffset)) != checksum)
        return fail(QStringLiteral("checksum mismatch"));
    qint64 end = r.checksumOffset + 1;
    if (r.sha256Appended) {
        if (end + kSha256Size > image.size())
            return fail(QStringLiteral("appended SHA-256 missing"));
        if (QCryptographicHash::hash(image.left(end), QCryptographicHash::Sha256) !=
            image.mid(end, kSha256Size))
            return fail(QStringLiteral("SHA-256 mismatch"));
        end += kSha256Size;
    }
    if (end != image.size())
        return fail(QStringLiteral("%1 bytes after the end of the image").arg(image.size() - end));
    r.ok = true;
    return r;
}

} // namespace nx7::ota
