#pragma once
// Numbers of the OTA invitation that the uploader and the board's service must agree on.

namespace nx7::ota
{

constexpr int kCommandFlash = 0;        // application image
constexpr int kCommandFileSystem = 100; // file-system image (-s)
constexpr int kCommandAuth = 200;       // answer to the password challenge

} // namespace nx7::ota
