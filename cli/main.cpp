#include <cstdio>

int main() {
    std::puts("pelmora-cli");
    return 0;
}
