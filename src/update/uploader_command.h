#pragma once
// The uploader's command line as the write builds it: the board's address, the upload port, the
// password and the image path, quoted for the interpreter where it is shown.
#include "comm/product.h"

#include <QString>
#include <QStringList>
#include <cstdint>

namespace nx7
{

// The uploader port; always used, whatever the board reported.
constexpr std::uint16_t kOtaUploadPort = product::kOtaPort;

// The access point's address, most significant byte first ("192.168.0.1").
QString FormatApAddress(std::uint32_t address);

// The command line as the log shows it: uploader, -i, -p, `extra` (the PC's address and host port), --auth=
// (or `passwordArguments` where the password goes out of band), -f, with the paths quoted for the
// interpreter.
QString BuildUploaderCommand(const QString& uploader, const QString& address, std::uint16_t port,
                             const QString& password, const QString& imagePath, const QStringList& extra = {},
                             const QStringList& passwordArguments = {});

} // namespace nx7
