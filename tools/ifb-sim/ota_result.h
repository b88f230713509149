#pragma once
// Where the board's update verdict comes from. The board tells the trigger what happens in OTA
// mode; the trigger announces the verdict. Either a timer stands in for the upload, or the board's
// OTA service receives a real image from the uploader.
#include "ota/ota_device.h"

#include <QObject>
#include <QString>
#include <QTimer>

namespace ifbsim
{

class OtaResultTrigger : public QObject
{
    Q_OBJECT
public:
    using QObject::QObject;
    virtual void OtaModeEntered() {}
    virtual void StationJoined() {}
    virtual void OtaModeLeft() {}
    // The verdict of the board that takes over ("OK", "BR", "" for none); false when this trigger
    // cannot pretend one.
    virtual bool SetVerdict(const QByteArray&) { return false; }

signals:
    // Emitted with "OK" or "BR", the text of the board's update notification. `romVersion` is the
    // version the board runs after its next restart; empty: the board decides as configured.
    void Result(const QByteArray& text, const QString& romVersion);
    // A line for the verbose log.
    void Log(const QString& text);
};

// Announces a fixed verdict a fixed time after the first poll that reported a joined station.
class TimedOtaResult : public OtaResultTrigger
{
    Q_OBJECT
public:
    // `text` empty: no verdict is ever announced. OTA sessions before `fromSession` (counted from 1)
    // announce nothing, as a board whose first upload broke off unnoticed.
    TimedOtaResult(const QByteArray& text, int delayMs, int fromSession = 1, QObject* parent = nullptr);
    void OtaModeEntered() override;
    void StationJoined() override;
    void OtaModeLeft() override;
    bool SetVerdict(const QByteArray& text) override
    {
        m_text = text;
        return true;
    }

private:
    QByteArray m_text;
    QTimer m_timer;
    int m_fromSession = 1;
    int m_session = 0;
};

// Runs the board's OTA service while the board is in OTA mode and announces the verdict of every
// transfer that ends: "OK" when the image arrived whole and correct, "BR" otherwise.
class TransferOtaResult : public OtaResultTrigger
{
    Q_OBJECT
public:
    // `saveImagePath` not empty: every transfer that received bytes leaves them in that file.
    TransferOtaResult(const nx7::ota::OtaDeviceConfig& config, const QString& saveImagePath,
                      QObject* parent = nullptr);
    void OtaModeEntered() override;
    void OtaModeLeft() override;

private:
    void OnStarted(int command, qint64 size);
    void OnFinished(bool ok, const QByteArray& image, const QString& message);

    nx7::ota::OtaDeviceService* m_service;
    QString m_where; // address:port, for messages
    QString m_saveImagePath;
    bool m_listening = false;
};

} // namespace ifbsim
