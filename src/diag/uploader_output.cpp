#include "diag/uploader_output.h"

#include <QRegularExpression>
#include <QStringList>

namespace nx7::diag
{

namespace
{

// The uploader's log lines: "HH:MM:SS [LEVEL]: message"; progress text may share the line before.
const QRegularExpression& LevelLine()
{
    static const QRegularExpression re(QStringLiteral(R"(\[(ERROR|CRITICAL)\]:\s*([^\r\n]*))"));
    return re;
}

QString AfterPrefix(const QString& line, const QString& prefix)
{
    const qsizetype at = line.indexOf(prefix);
    return at < 0 ? QString() : line.mid(at + prefix.size()).trimmed();
}

// Dots printed right after `marker` on the same line.
int DotsAfter(const QString& text, qsizetype from)
{
    int dots = 0;
    for (qsizetype i = from; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (c == QLatin1Char('.'))
            ++dots;
        else if (c == QLatin1Char('\n') || c == QLatin1Char('\r') || c == QLatin1Char('['))
            break;
    }
    return dots;
}

void ReadProgress(const UploaderRun& run, UploaderFacts& facts)
{
    const QString& out = run.output;
    const qsizetype start = out.indexOf(QLatin1String("Uploading"));
    if (start < 0)
        return;
    facts.transferStarted = true;
    // "-r" bar ("Uploading: [===   ] 45% ") and the plain "Uploading: 45%" marks.
    static const QRegularExpression pct(QStringLiteral(R"((\d{1,3})%)"));
    auto it = pct.globalMatch(out, start);
    while (it.hasNext())
        facts.percent = it.next().captured(1).toInt();
    if (facts.percent >= 0)
        return;
    // Dotted form: one dot per acknowledged 1024-byte chunk.
    facts.chunks = DotsAfter(out, start + 9);
    if (run.imageSize > 0)
        facts.percent = static_cast<int>(qMin<qint64>(100, facts.chunks * 1024LL * 100 / run.imageSize));
}

// "... after 4096 of 102400 bytes" in the transfer failures gives the point reached.
void ReadBytesReached(UploaderFacts& facts)
{
    static const QRegularExpression re(QStringLiteral(R"(after (\d+) of (\d+) bytes)"));
    const auto m = re.match(facts.failureLine);
    if (!m.hasMatch())
        return;
    const qint64 sent = m.captured(1).toLongLong();
    const qint64 total = m.captured(2).toLongLong();
    if (total > 0)
        facts.percent = static_cast<int>(qMin<qint64>(100, sent * 100 / total));
}

UploaderClass ClassOfFailure(UploaderFacts& facts)
{
    const QString& line = facts.failureLine;
    auto has = [&](const char* words) { return line.contains(QLatin1String(words)); };
    if (has("Listen Failed")) {
        facts.reason = AfterPrefix(line, QStringLiteral("Listen Failed:"));
        return UploaderClass::ListenFailed;
    }
    if (has("Host ") && has("Not Found"))
        return UploaderClass::HostNotFound;
    if (has("No response from the ESP"))
        return UploaderClass::InvitationUnanswered;
    if (has("Bad Answer")) {
        facts.reason = AfterPrefix(line, QStringLiteral("Bad Answer:"));
        // A challenge the uploader could not use is a scheme mismatch, not a refusal.
        return facts.reason.startsWith(QLatin1String("AUTH")) ? UploaderClass::SchemeMismatch
                                                              : UploaderClass::BadAnswer;
    }
    if (has("No Answer to our Authentication"))
        return UploaderClass::AuthNoAnswer;
    if (has("Authentication Failed"))
        return UploaderClass::AuthRefused;
    if (has("Invalid nonce length"))
        return UploaderClass::SchemeMismatch;
    if (has("after upload completion"))
        return UploaderClass::ResultUnclear;
    if (has("No response from device"))
        return UploaderClass::NoConnectBack;
    if (has("Error Uploading")) {
        facts.reason = AfterPrefix(line, QStringLiteral("Error Uploading:"));
        ReadBytesReached(facts);
        // A board that finds no room for the image says so as the transfer opens.
        if (facts.reason.contains(QLatin1String("Not Enough Space")))
            return UploaderClass::BadAnswer;
        return facts.percent >= 100 ? UploaderClass::ResultUnclear : UploaderClass::TransferLost;
    }
    return UploaderClass::UnknownFailure;
}

bool IsResultPhase(UploaderClass cls)
{
    return cls == UploaderClass::ResultUnclear || cls == UploaderClass::Success;
}

} // namespace

UploaderFacts ClassifyUploaderOutput(const UploaderRun& run)
{
    UploaderFacts facts;
    const QString& out = run.output;

    static const QRegularExpression invite(QStringLiteral(R"(Sending invitation to (\S+))"));
    static const QRegularExpression hostNotFound(QStringLiteral(R"(Host (\S+) Not Found)"));
    if (const auto m = invite.match(out); m.hasMatch()) {
        facts.address = m.captured(1);
        facts.invitationTries = DotsAfter(out, m.capturedEnd(0));
    } else if (const auto h = hostNotFound.match(out); h.hasMatch()) {
        facts.address = h.captured(1);
    }
    static const QRegularExpression authOk(QStringLiteral(R"(Authenticating[^\n]*?\.\.\.\s*OK)"));
    facts.authenticated = authOk.match(out).hasMatch();
    ReadProgress(run, facts);

    if (const auto m = LevelLine().match(out); m.hasMatch()) {
        facts.failureLine = QStringLiteral("[%1]: %2").arg(m.captured(1), m.captured(2).trimmed());
        if (m.captured(1) == QLatin1String("CRITICAL")) {
            facts.cls = UploaderClass::BadArguments;
            return facts;
        }
        facts.cls = ClassOfFailure(facts);
    } else if (out.contains(QLatin1String("unexpected response"))) {
        facts.failureLine = out.mid(out.indexOf(QLatin1String("Upload completed")))
                                .section(QLatin1Char('\n'), 0, 0)
                                .trimmed();
        facts.cls = UploaderClass::ResultUnclear;
    } else if ((run.exitCode && *run.exitCode != 0) ||
               (!run.exitCode && out.contains(QLatin1String("Error")))) {
        facts.cls = UploaderClass::UnknownFailure;
    } else {
        facts.cls = UploaderClass::Success;
    }

    // The board's own verdict decides once the image could have reached it.
    if (run.verdict == BoardVerdict::Failed)
        facts.cls = UploaderClass::BoardRejected;
    else if (run.verdict == BoardVerdict::Ok && IsResultPhase(facts.cls))
        facts.cls = UploaderClass::Success;
    return facts;
}

QString ClassName(UploaderClass cls)
{
    switch (cls) {
    case UploaderClass::Success:
        return QStringLiteral("success");
    case UploaderClass::BadArguments:
        return QStringLiteral("bad-arguments");
    case UploaderClass::ListenFailed:
        return QStringLiteral("listen-failed");
    case UploaderClass::HostNotFound:
        return QStringLiteral("host-not-found");
    case UploaderClass::InvitationUnanswered:
        return QStringLiteral("invitation-unanswered");
    case UploaderClass::BadAnswer:
        return QStringLiteral("bad-answer");
    case UploaderClass::AuthRefused:
        return QStringLiteral("auth-refused");
    case UploaderClass::AuthNoAnswer:
        return QStringLiteral("auth-no-answer");
    case UploaderClass::SchemeMismatch:
        return QStringLiteral("scheme-mismatch");
    case UploaderClass::NoConnectBack:
        return QStringLiteral("no-connect-back");
    case UploaderClass::TransferLost:
        return QStringLiteral("transfer-lost");
    case UploaderClass::ResultUnclear:
        return QStringLiteral("result-unclear");
    case UploaderClass::BoardRejected:
        return QStringLiteral("board-rejected");
    case UploaderClass::UnknownFailure:
        break;
    }
    return QStringLiteral("unknown");
}

std::optional<UploaderClass> TransientUploadFailure(const UploaderRun& run)
{
    UploaderRun ownWords = run;
    ownWords.verdict = BoardVerdict::None;
    const UploaderClass cls = ClassifyUploaderOutput(ownWords).cls;
    switch (cls) {
    case UploaderClass::TransferLost:
    case UploaderClass::AuthNoAnswer:
    case UploaderClass::NoConnectBack:
        return cls;
    default:
        return std::nullopt;
    }
}

} // namespace nx7::diag
