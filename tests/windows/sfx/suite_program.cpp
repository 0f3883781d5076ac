// A program of the suite, as a test starts it from the install folder: it runs, its file mapped
// as a running program's is, until the test ends it.
#include <windows.h>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    Sleep(120000);
    return 0;
}
