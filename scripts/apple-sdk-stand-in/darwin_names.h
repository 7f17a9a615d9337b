// The Darwin names that the Apple branches of our C++ sources use and glibc lacks, so that
// scripts/check-apple-sources.py can compile those branches on Linux with __APPLE__ defined. Used
// by that check alone: nothing here is built into anything. Each declaration copies its signature
// from the macOS SDK header named above it, and gives the macOS version that introduced the name;
// every one is at or below our floor (packaging/macos-floor). A name an Apple branch starts to
// use that glibc lacks fails the check until it is added here the same way.
#pragma once

#include <stdint.h>
#include <time.h>

#ifdef __cplusplus
extern "C" {
#endif

// usr/include/sys/fcntl.h, Mac OS X 10.3.
#define F_FULLFSYNC 51

// usr/include/sys/socket.h; in every public xnu release from Mac OS X 10.6 on, and older.
#define SO_NOSIGPIPE 0x1022

// usr/include/spawn.h (sys/spawn.h), Mac OS X 10.7.
#define POSIX_SPAWN_CLOEXEC_DEFAULT 0x4000

// usr/include/sys/resource.h: rusage_info_t and the flavors, macOS 10.9; struct rusage_info_v4
// as the macOS 11 SDK lays it out, macOS 11.0 in Apple's documentation.
typedef void* rusage_info_t;
#define RUSAGE_INFO_V4 4
struct rusage_info_v4 {
    uint8_t ri_uuid[16];
    uint64_t ri_user_time;
    uint64_t ri_system_time;
    uint64_t ri_pkg_idle_wkups;
    uint64_t ri_interrupt_wkups;
    uint64_t ri_pageins;
    uint64_t ri_wired_size;
    uint64_t ri_resident_size;
    uint64_t ri_phys_footprint;
    uint64_t ri_proc_start_abstime;
    uint64_t ri_proc_exit_abstime;
    uint64_t ri_child_user_time;
    uint64_t ri_child_system_time;
    uint64_t ri_child_pkg_idle_wkups;
    uint64_t ri_child_interrupt_wkups;
    uint64_t ri_child_pageins;
    uint64_t ri_child_elapsed_abstime;
    uint64_t ri_diskio_bytesread;
    uint64_t ri_diskio_byteswritten;
    uint64_t ri_cpu_time_qos_default;
    uint64_t ri_cpu_time_qos_maintenance;
    uint64_t ri_cpu_time_qos_background;
    uint64_t ri_cpu_time_qos_utility;
    uint64_t ri_cpu_time_qos_legacy;
    uint64_t ri_cpu_time_qos_user_initiated;
    uint64_t ri_cpu_time_qos_user_interactive;
    uint64_t ri_billed_system_time;
    uint64_t ri_serviced_system_time;
    uint64_t ri_logical_writes;
    uint64_t ri_lifetime_max_phys_footprint;
    uint64_t ri_instructions;
    uint64_t ri_cycles;
    uint64_t ri_billed_energy;
    uint64_t ri_serviced_energy;
    uint64_t ri_interval_max_phys_footprint;
    uint64_t ri_runnable_time;
};

// usr/include/libproc.h, macOS 10.9.
int proc_pid_rusage(int pid, int flavor, rusage_info_t* buffer);

// usr/include/mach-o/dyld.h, Mac OS X 10.2.
int _NSGetExecutablePath(char* buf, uint32_t* bufsize);

// usr/include/time.h, macOS 10.12 (clockid_t and CLOCK_MONOTONIC_RAW glibc has as well).
uint64_t clock_gettime_nsec_np(clockid_t __clock_id);

#ifdef __cplusplus
}
#endif
