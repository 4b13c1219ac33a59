#include "tools/upkg/commands.h"

int main(int argc, char** argv) {
    return upkg::RunUpkg(std::vector<std::string>(argv + 1, argv + argc));
}
