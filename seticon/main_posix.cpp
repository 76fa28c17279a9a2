#include "platform.hpp"

int main(int argc, char* argv[]) {
    return seticonMain(std::vector<std::string>(argv + 1, argv + argc));
}
