#pragma once
// Texts travel in the board's 8-bit code page.
#include <QString>

#include <string>

namespace ifbsim
{

// CP932 when Qt offers it, else the local 8-bit encoding.
std::string BoardText(const QString& text);

} // namespace ifbsim
