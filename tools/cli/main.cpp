#include <cstdio>

int main() {
    std::puts("tintavo-cli: not built yet");
    return 1;
}
