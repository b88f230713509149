#pragma once
// A link that stays in memory, for engine and command tests that need no port: the board answers
// each request frame from a script, and its answer arrives later on the event loop, as bytes from
// a port would.
#include "comm/frame_codec.h"
#include "comm/link.h"

#include <QByteArray>
#include <QMetaObject>

#include <functional>
#include <memory>
#include <vector>

namespace nx7::test
{

// The board's side; the test keeps it while the engine owns the link.
struct MemoryBoard : codec::FrameAssembler::Sink {
    using Bytes = std::vector<std::uint8_t>;
    using Script = std::function<QByteArray(const Bytes& request)>;

    void OnValidFrame(const std::uint8_t* frame, int length) override
    {
        requests.emplace_back(frame, frame + length);
        if (script)
            answers.append(script(requests.back()));
    }
    void OnChecksumError(const std::uint8_t*, int) override {}
    void OnRxTrace(const std::string&) override {}

    // Takes what the engine sent; gives what the board answers to it.
    QByteArray Take(const std::uint8_t* bytes, int count)
    {
        raw.append(reinterpret_cast<const char*>(bytes), count);
        assembler.AppendReceived(bytes, static_cast<std::size_t>(count));
        assembler.Assemble(*this, false);
        QByteArray out;
        out.swap(answers);
        return out;
    }

    Script script;
    std::vector<Bytes> requests;
    QByteArray raw;
    bool opens = true; // false: the port cannot be opened
    codec::FrameAssembler assembler;
    QByteArray answers;
};

class MemoryLink : public Link
{
public:
    MemoryLink(MemoryBoard& board, LinkKind kind, const SerialLine& line)
        : m_board(board)
        , m_kind(kind)
        , m_line(line)
    {
    }

    bool Open() override
    {
        m_up = m_board.opens;
        if (m_kind == LinkKind::Tcp && m_up)
            QMetaObject::invokeMethod(
                this, [this] { emit ConnectionChanged(true); }, Qt::QueuedConnection);
        return m_up;
    }
    void Close() override
    {
        const bool was = m_up;
        m_up = false;
        if (m_kind == LinkKind::Tcp && was)
            emit ConnectionChanged(false);
    }
    bool IsUp() const override { return m_up; }
    int Write(const std::uint8_t* bytes, int count) override
    {
        if (!m_up)
            return 0;
        const QByteArray answer = m_board.Take(bytes, count);
        if (!answer.isEmpty())
            Send(answer);
        return count;
    }
    LinkKind Kind() const override { return m_kind; }
    bool ConnectsLater() const override { return m_kind == LinkKind::Tcp; }
    QString Describe() const override
    {
        return m_kind == LinkKind::Serial ? m_line.comName : QStringLiteral("mem:1");
    }
    const SerialLine* Line() const override { return m_kind == LinkKind::Serial ? &m_line : nullptr; }
    void SetComName(const QString& name) override { m_line.comName = name; }

    // Bytes from the board that no request asked for (a notification), delivered on the event loop.
    void Send(const QByteArray& bytes)
    {
        QMetaObject::invokeMethod(
            this, [this, bytes] { emit Received(bytes); }, Qt::QueuedConnection);
    }
    // The port goes away (unplugged): the link reads as down from now on.
    void Lose()
    {
        m_up = false;
        emit ConnectionChanged(false);
    }

private:
    MemoryBoard& m_board;
    LinkKind m_kind;
    SerialLine m_line;
    bool m_up = false;
};

// A factory for the engine: builds a MemoryLink of the settings' kind on `board` and tells the
// test where it is.
inline LinkFactory MemoryLinkFactory(MemoryBoard& board, MemoryLink** made = nullptr)
{
    return [&board, made](const LinkSettings& settings) -> std::unique_ptr<Link> {
        auto link = std::make_unique<MemoryLink>(board, settings.kind, settings.line);
        if (made)
            *made = link.get();
        return link;
    };
}

} // namespace nx7::test
