#include "platform.hpp"

int main(int argc, char* argv[]) {
    return updateMain(std::vector<std::string>(argv + 1, argv + argc));
}
