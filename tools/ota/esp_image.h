#pragma once
// ESP32 application images: building placeholder firmware and reading back what the board
// checks (layout, checksum, appended SHA-256, application description).
#include <QByteArray>
#include <QList>
#include <QString>
#include <optional>

namespace nx7::ota
{

constexpr quint8 kImageMagic = 0xE9;
constexpr quint32 kAppDescMagic = 0xABCD5432;
constexpr int kImageHeaderSize = 24; // 8-byte header + 16-byte extended header
constexpr int kSegmentHeaderSize = 8;
constexpr int kAppDescSize = 256;
constexpr int kMaxSegments = 16;
constexpr int kChecksumSeed = 0xEF;
constexpr int kVersionFieldSize = 32;

// The 256-byte application description at the start of the first segment. Text fields are
// stored NUL-padded; a text that fills its field completely has no terminator.
struct AppDescription {
    quint32 secureVersion = 0;
    QByteArray version;     // char[32]
    QByteArray projectName; // char[32]
    QByteArray time;        // char[16]
    QByteArray date;        // char[16]
    QByteArray idfVersion;  // char[32]
    QByteArray elfSha256;   // 32 raw bytes
};

QByteArray EncodeAppDescription(const AppDescription& desc);
// std::nullopt when fewer than 256 bytes are given or the magic word is missing.
std::optional<AppDescription> DecodeAppDescription(const QByteArray& bytes);

struct ImageSegment {
    quint32 loadAddress = 0;
    QByteArray data; // zero-padded to a multiple of 4 when the image is built
};

struct ImageLayout {
    quint8 spiMode = 2;      // DIO
    quint8 flashSize = 2;    // 4 MB (high nibble of header byte 3)
    quint8 flashSpeed = 0xF; // 80 MHz (low nibble of header byte 3)
    quint32 entryAddress = 0x40081000;
    quint16 chipId = 0; // ESP32
    bool appendSha256 = true;
    QList<ImageSegment> segments;
};

// The image bytes: header, segments, zero padding and checksum byte (so that the length is a
// multiple of 16), then the SHA-256 of all that when `appendSha256` is set.
QByteArray BuildImage(const ImageLayout& layout);

// A valid application image of about `totalSize` bytes (never less than the smallest possible
// image) whose description carries `version` and `projectName` (each cut to 31 bytes of UTF-8).
// Filler data is pseudo-random but depends only on the arguments.
QByteArray BuildAppImage(const QString& version, const QString& projectName, qint64 totalSize);

// The version text of the application description; empty when `image` is not an application
// image (wrong magic, no segment, or no description at the start of the first segment).
QString AppVersionOfImage(const QByteArray& image);

struct ImageCheck {
    bool ok = false;
    QString error; // what is wrong, when !ok
    int segmentCount = 0;
    bool sha256Appended = false;
    qint64 checksumOffset = -1;
    std::optional<AppDescription> app;
};

// Checks magic, segment table, 4-byte segment lengths, checksum byte and its 16-byte alignment,
// the appended SHA-256 when the header announces one, and that nothing follows.
ImageCheck ValidateImage(const QByteArray& image);

} // namespace nx7::ota
