#pragma once
// Where the board's update verdict comes from. The board tells the trigger what happens in OTA
// mode; the trigger announces the verdict. Today a timer stands in for the upload; a real OTA
// receiver can replace it without touching the rest of the simulator.
#include <QObject>
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

signals:
    // Emitted with "OK" or "BR", the text of the board's update notification.
    void Result(const QByteArray& text);
};

// Announces a fixed verdict a fixed time after the first poll that reported a joined station.
class TimedOtaResult : public OtaResultTrigger
{
    Q_OBJECT
public:
    // `text` empty: no verdict is ever announced.
    TimedOtaResult(const QByteArray& text, int delayMs, QObject* parent = nullptr);
    void StationJoined() override;
    void OtaModeLeft() override;

private:
    QByteArray m_text;
    QTimer m_timer;
};

} // namespace ifbsim
