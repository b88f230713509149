// Entry point: the window, or the headless front-end with --headless. Nothing from the
// environment changes the tool's waits or its view of the network.
#include "app/app_main.h"

int main(int argc, char** argv)
{
    return nx7::RunApplication(argc, argv);
}
