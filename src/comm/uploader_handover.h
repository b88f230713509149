#pragma once
// How the tool hands the upload password to the project's own uploader without putting it on the
// command line, where every user of the PC can read it. The tool and the uploader share these
// names; no Qt, so the uploader needs nothing else of the tool.

namespace nx7::handover
{

// Text the uploader's executable carries. The tool looks for it in the configured uploader before
// it chooses how to pass the password: other uploaders only take it as an argument.
inline constexpr char kOwnUploaderMarker[] = "nx7-espota-password-handover:auth-env,auth-fd;";

// The environment variable the tool puts the password in (named by "--auth-env").
inline constexpr char kPasswordVariable[] = "NX7_OTA_PASSWORD";

} // namespace nx7::handover
