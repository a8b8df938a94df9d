#pragma once
// vardeld's start-up and its three ways to run:
//   no argument   service mode under systemd: the main loop on a service
//                 thread, status reports with sd_notify, SIGTERM as STOP;
//   -i / -I       interactive: the main loop on the main thread, every log
//                 line on standard output, Ctrl-C closing as WM_CLOSE;
//   --run NAME    one set now in the foreground: exit 0 completed, 1 failed,
//                 2 aborted (SIGINT or SIGTERM abort it).
#include <string>
#include <vector>

namespace vardel {

int vardeld_main(const std::vector<std::string>& args);

}  // namespace vardel
