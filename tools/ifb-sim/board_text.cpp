#include "board_text.h"

#include <QStringEncoder>

namespace ifbsim
{

std::string BoardText(const QString& text)
{
    QStringEncoder encoder("CP932");
    if (!encoder.isValid())
        return text.toLocal8Bit().toStdString();
    const QByteArray bytes = encoder(text);
    return bytes.toStdString();
}

} // namespace ifbsim
