#pragma once
// An engine on a real pseudo-terminal, pinned as COM9 in a temporary settings file, with its own
// 50 ms Timer1, and a board on the other end that answers each request from a script.
#include "comm/engine.h"
#include "comm/frame_codec.h"
#include "comm/memory_link.h"
#include "comm/protocol.h"
#include "support/memory_log.h"
#include "support/pty_pair.h"
#include "support/scripted_ui.h"
#include "support/test_data.h"

#include <QByteArray>
#include <QSocketNotifier>
#include <QTemporaryDir>
#include <QTimer>
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <ostream>
#include <sstream>
#include <string>
#include <unistd.h>
#include <vector>

// Readable failure messages for Qt texts.
inline void PrintTo(const QString& text, std::ostream* os)
{
    *os << '"' << text.toStdString() << '"';
}

namespace nx7::test
{

using Bytes = std::vector<std::uint8_t>;

using nx7::test::FromHex;

inline std::string ToHex(const Bytes& bytes)
{
    return codec::HexBytes(bytes.data(), bytes.size());
}

inline QByteArray Qb(const Bytes& bytes)
{
    return QByteArray(reinterpret_cast<const char*>(bytes.data()), static_cast<qsizetype>(bytes.size()));
}

inline QByteArray Ack(const std::string& dataHex)
{
    return Qb(codec::BuildFrame(0, 0x30, FromHex(dataHex)));
}

inline QByteArray Reply(std::uint8_t code, const Bytes& data)
{
    return Qb(codec::BuildFrame(0, code, data));
}

// The board: reads the master side as bytes arrive (on the test's event loop, like the engine),
// assembles request frames and writes whatever the script answers.
class PtyBoard : public codec::FrameAssembler::Sink
{
public:
    using Script = std::function<QByteArray(const Bytes& request)>;

    explicit PtyBoard(PtyPair& pty)
        : m_pty(pty)
        , m_notifier(pty.masterFd(), QSocketNotifier::Read)
    {
        QObject::connect(&m_notifier, &QSocketNotifier::activated, [this] { OnReadable(); });
    }

    void OnValidFrame(const std::uint8_t* frame, int length) override
    {
        requests.emplace_back(frame, frame + length);
        if (script) {
            const QByteArray reply = script(requests.back());
            if (!reply.isEmpty())
                m_pty.Write(reply);
        }
    }
    void OnChecksumError(const std::uint8_t*, int) override {}
    void OnRxTrace(const std::string&) override {}

    Script script;
    std::vector<Bytes> requests;
    QByteArray raw;

private:
    void OnReadable()
    {
        char buf[4096];
        const ssize_t n = ::read(m_pty.masterFd(), buf, sizeof buf);
        if (n <= 0)
            return;
        raw.append(buf, n);
        m_assembler.AppendReceived(reinterpret_cast<const std::uint8_t*>(buf), static_cast<std::size_t>(n));
        m_assembler.Assemble(*this, false);
    }

    PtyPair& m_pty;
    QSocketNotifier m_notifier;
    codec::FrameAssembler m_assembler;
};

constexpr int kPinnedPort = 9;

// The main window's Timer1 for a test's engine: runs the frame assembly every 50 ms while the
// engine exists. Declare it after the engine, so it stops first.
class Timer1 : public QTimer
{
public:
    explicit Timer1(const std::unique_ptr<TTComXDlg>& engine)
    {
        setTimerType(Qt::PreciseTimer);
        setInterval(50);
        QObject::connect(this, &QTimer::timeout, [&engine] {
            if (engine)
                engine->AssembleFrames();
        });
        start();
    }
};

class EngineOnPty : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        ASSERT_TRUE(pty.ok());
        iniPath = dir.filePath(QStringLiteral("nx7.ini"));
        ASSERT_TRUE(PinPort(iniPath, kPinnedPort, pty.slavePath()));
    }
    void TearDown() override
    {
        timer1.stop();
        engine.reset();
    }

    // Serial link on the pinned pty, 115200 bit/s, no parity.
    void CreateSerial(int speedCode = 4, int parityCode = 0)
    {
        engine = std::make_unique<TTComXDlg>(0, 0, 0, QString(), 0, kPinnedPort, speedCode, parityCode, &log,
                                             &ui, iniPath);
        ASSERT_TRUE(engine->IsConnected());
    }

    QTemporaryDir dir;
    QString iniPath;
    PtyPair pty;
    PtyBoard board{pty};
    MemoryLog log;
    ScriptedUi ui;
    std::unique_ptr<TTComXDlg> engine;
    Timer1 timer1{engine};
};

// The same engine on an in-memory link of the same settings: no port, the board's answers come
// on the event loop. For the protocol above the link; the pty fixture proves the serial path.
class EngineInMemory : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        iniPath = dir.filePath(QStringLiteral("nx7.ini"));
    }
    void TearDown() override
    {
        timer1.stop();
        engine.reset();
    }

    // A serial-kind link named COM9, 115200 bit/s, no parity.
    void CreateSerial(int speedCode = 4, int parityCode = 0)
    {
        const LinkSettings settings =
            TTComXDlg::SettingsOf(0, 0, 0, QString(), 0, kPinnedPort, speedCode, parityCode, iniPath);
        engine = std::make_unique<TTComXDlg>(settings, MemoryLinkFactory(board, &link), &log, &ui, iniPath);
        ASSERT_TRUE(engine->IsConnected());
    }

    QTemporaryDir dir;
    QString iniPath;
    MemoryBoard board;
    MemoryLink* link = nullptr; // owned by the engine
    MemoryLog log;
    ScriptedUi ui;
    std::unique_ptr<TTComXDlg> engine;
    Timer1 timer1{engine};
};

} // namespace nx7::test
