#include "ota_result.h"

#include "ota/esp_image.h"

#include <QSaveFile>

#include <cstdio>

namespace ifbsim
{

TimedOtaResult::TimedOtaResult(const QByteArray& text, int delayMs, int fromSession, QObject* parent)
    : OtaResultTrigger(parent)
    , m_text(text)
    , m_fromSession(fromSession)
{
    m_timer.setSingleShot(true);
    m_timer.setInterval(delayMs);
    connect(&m_timer, &QTimer::timeout, this, [this] { emit Result(m_text, QString()); });
}

void TimedOtaResult::OtaModeEntered()
{
    ++m_session;
}

void TimedOtaResult::StationJoined()
{
    if (!m_text.isEmpty() && m_session >= m_fromSession)
        m_timer.start();
}

void TimedOtaResult::OtaModeLeft()
{
    // A restart before the verdict ends the pretended upload.
    m_timer.stop();
}

TransferOtaResult::TransferOtaResult(const nx7::ota::OtaDeviceConfig& config, const QString& saveImagePath,
                                     QObject* parent)
    : OtaResultTrigger(parent)
    , m_service(new nx7::ota::OtaDeviceService(config, this))
    , m_where(QStringLiteral("%1:%2").arg(config.address.toString()).arg(config.port))
    , m_saveImagePath(saveImagePath)
{
    connect(m_service, &nx7::ota::OtaDeviceService::TransferStarted, this, &TransferOtaResult::OnStarted);
    connect(m_service, &nx7::ota::OtaDeviceService::TransferFinished, this, &TransferOtaResult::OnFinished);
}

void TransferOtaResult::OtaModeEntered()
{
    QString error;
    m_listening = m_service->Start(&error);
    if (!m_listening) {
        // Not fatal: the board goes on answering, the uploader then fails with its own error.
        std::fprintf(stderr, "ifb-sim: the OTA service cannot listen on %s: %s\n", qPrintable(m_where),
                     qPrintable(error));
        std::fflush(stderr);
        return;
    }
    emit Log(QStringLiteral("OTA service listening on %1").arg(m_where));
}

void TransferOtaResult::OtaModeLeft()
{
    // A transfer cut off by the restart is neither announced nor saved.
    m_service->Stop();
    if (m_listening)
        emit Log(QStringLiteral("OTA service stopped"));
    m_listening = false;
}

void TransferOtaResult::OnStarted(int command, qint64 size)
{
    emit Log(QStringLiteral("OTA transfer started: command %1, %2 bytes").arg(command).arg(size));
}

void TransferOtaResult::OnFinished(bool ok, const QByteArray& image, const QString& message)
{
    emit Log(QStringLiteral("OTA transfer ended after %1 bytes: %2").arg(image.size()).arg(message));
    // Saved before the verdict goes out, so whoever hears the verdict finds the file complete.
    if (!m_saveImagePath.isEmpty() && !image.isEmpty()) {
        QSaveFile f(m_saveImagePath);
        if (!f.open(QIODevice::WriteOnly) || f.write(image) != image.size() || !f.commit()) {
            std::fprintf(stderr, "ifb-sim: --save-image: cannot write %s: %s\n", qPrintable(m_saveImagePath),
                         qPrintable(f.errorString()));
            std::fflush(stderr);
        }
    }
    emit Result(ok ? QByteArray("OK") : QByteArray("BR"),
                ok ? nx7::ota::AppVersionOfImage(image) : QString());
}

} // namespace ifbsim
