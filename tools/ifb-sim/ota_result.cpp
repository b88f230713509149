#include "ota_result.h"

namespace ifbsim
{

TimedOtaResult::TimedOtaResult(const QByteArray& text, int delayMs, QObject* parent)
    : OtaResultTrigger(parent)
    , m_text(text)
{
    m_timer.setSingleShot(true);
    m_timer.setInterval(delayMs);
    connect(&m_timer, &QTimer::timeout, this, [this] { emit Result(m_text); });
}

void TimedOtaResult::StationJoined()
{
    if (!m_text.isEmpty())
        m_timer.start();
}

void TimedOtaResult::OtaModeLeft()
{
    // A restart before the verdict ends the pretended upload.
    m_timer.stop();
}

} // namespace ifbsim
