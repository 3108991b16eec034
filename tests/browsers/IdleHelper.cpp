// A stand-in for a browser: runs without arguments until it is ended (at most a minute, so a
// failed test never leaves it behind).
#include <unistd.h>

int main() {
    for (int i = 0; i < 60; ++i)
        ::sleep(1);
    return 0;
}
