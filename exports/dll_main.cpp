// The module entry point: there is nothing to set up or tear down, so every notification
// succeeds.
#include <windows.h>

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID) { return TRUE; }
