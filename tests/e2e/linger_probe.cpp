// A program that stays running until it is ended (or two minutes pass), so
// a scenario can leave one running from a folder the library must clear.
#include <windows.h>

int main() {
    ::Sleep(120000);
    return 0;
}
