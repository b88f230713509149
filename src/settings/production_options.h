#pragma once
// Keys of section "Option" for the automatic access-point join and the check after a second
// restart, with their defaults, in one place for the settings and the write flow.

namespace nx7
{

// 1: join the board's access point through NetworkManager where possible; 0: always by hand.
inline constexpr char kAutoJoinApKey[] = "AutoJoinAP";
inline constexpr int kAutoJoinApDefault = 1;

// 1: after a good version check restart the board once more and read the version again, so an
// image the board rolls back on its next start is caught; 0: no second restart.
inline constexpr char kVerifyAfterRebootKey[] = "VerifyAfterReboot";
inline constexpr int kVerifyAfterRebootDefault = 0;

} // namespace nx7
