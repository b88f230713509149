#pragma once
// The whole program behind main(): arguments, then the window or the headless front-end.

namespace nx7
{

// Returns the process exit status (see the usage text).
int RunApplication(int argc, char** argv);

} // namespace nx7
