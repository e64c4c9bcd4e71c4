/* Preloaded (LD_PRELOAD) into a program under test, makes it see 16
   processors, as on a larger machine than the test's: the C++ library's
   std::thread::hardware_concurrency asks glibc's get_nprocs. */
#include <sys/sysinfo.h>

int get_nprocs(void) { return 16; }

int get_nprocs_conf(void) { return 16; }
