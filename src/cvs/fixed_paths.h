// The fixed paths and settings of the tool. Each build of the tool links
// one generated source that defines them from the CMake cache variables
// RK_SYS_PASSWD, RK_CVS_PROGRAM, RK_TEMP_DIR and RK_LOCK_WAIT; the test
// suite links a second one pointed at a sandbox.
#pragma once

namespace rk::fixed_paths {
extern const char sys_passwd[];
extern const char cvs_program[];
extern const char temp_dir[];
// How long a changing run waits for another run's lock before it gives up.
extern const int lock_wait_seconds;
}  // namespace rk::fixed_paths
