#pragma once
// Plays the interface board on every attached channel: assembles request frames, records them,
// answers from the board state and delivers the answers as the scenario's faults dictate.
#include "board.h"
#include "links.h"
#include "ota_result.h"
#include "scenario.h"

#include <QElapsedTimer>
#include <QFile>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QTimer>

#include <functional>
#include <map>
#include <memory>

namespace ifbsim
{

class Simulator : public QObject
{
    Q_OBJECT
public:
    Simulator(const BoardConfig& board, Scenario scenario, OtaResultTrigger* trigger,
              QObject* parent = nullptr);
    ~Simulator() override;

    void SetVerbose(bool on) { m_verbose = on; }
    bool OpenRecord(const QString& path, QString* error);
    // Directives appended to this file while the simulator runs join the scenario before the next
    // request is handled (answer faults only).
    void SetControlFile(const QString& path) { m_controlPath = path; }

    void AddChannel(Channel* channel);
    void AttachPty(PtyChannel* pty);
    void AttachServer(TcpServerLink* server);
    void AttachClient(TcpClientLink* client);

private:
    class Port;

    void OnFrame(Port* port, const QByteArray& frame, bool checksumOk);
    void Respond(Port* port, const QByteArray& request, const Answer& answer, int requestNumber);
    void SendNotification(std::uint8_t code, const QByteArray& data);
    void OnOtaResult(const QByteArray& text, const QString& romVersion);
    void LinkUpOnce();
    void RebootLinks();
    void DropLink();
    void RestoreLink();
    void Record(const QByteArray& frame);
    void ReadControl();
    void Log(const QString& text) const;

    Board m_board;
    Scenario m_scenario;
    OtaResultTrigger* m_trigger;
    std::map<Channel*, std::unique_ptr<Port>> m_ports;
    QPointer<PtyChannel> m_pty;
    QPointer<TcpServerLink> m_server;
    QPointer<TcpClientLink> m_client;
    QElapsedTimer m_clock;
    QFile m_record;
    bool m_verbose = false;
    bool m_wasUp = false;
    bool m_linkDown = false;
    int m_requests = 0;
    QString m_controlPath;
    qint64 m_controlRead = 0; // bytes of the control file taken so far
};

} // namespace ifbsim
