#include <string>
#include <vector>

#include "vardeld/service_host.h"

int main(int argc, char** argv) {
    return vardel::vardeld_main(std::vector<std::string>(argv, argv + argc));
}
