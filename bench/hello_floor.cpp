// The smallest C++ program that uses the standard streams: what the toolchain
// alone adds to an executable built the way the launcher is built.
#include <iostream>

int main() {
    std::cout << "hello, world" << std::endl;
    return 0;
}
