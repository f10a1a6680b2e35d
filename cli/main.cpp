// verrin-cli: the command-line companion. Placeholder entry until the
// commands land.
#include <cstdio>

int main()
{
    std::puts("verrin-cli");
    return 0;
}
