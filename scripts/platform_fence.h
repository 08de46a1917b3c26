// Forced into every source of the portability build (scripts/portability.sh): after the system's
// headers (and CUPS's, which names one of them) have been read, each name below that only Linux or
// the GNU C library has becomes an error wherever our code spells it, even under #ifdef. Only the
// Linux halves behind VP_LINUX_EXTRAS use them (util/platform.cc; in tests the private network and
// the print server's death signal), and that build leaves those out. A name a macOS build would
// miss goes on this list, and CI then refuses it everywhere.
#pragma GCC system_header

// The headers first: they, and the libraries' headers after them, may name these themselves. Of
// the C++ headers only those are read here whose inline code calls the C library's timed waits
// (the others, read later, name nothing on the list), which keeps the fence cheap per source.
#include <thread>
#if __has_include(<semaphore>)
#include <semaphore>
#endif
#if __has_include(<stop_token>)
#include <stop_token>
#endif

#include <arpa/inet.h>
#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <net/if.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <pthread.h>
#include <pwd.h>
#include <sched.h>
#include <signal.h>
#include <spawn.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/select.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/time.h>
#include <sys/types.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

// Of the libraries' headers, only CUPS's names one (SO_PEERCRED, under #ifndef).
#include <cups/cups.h>

// Descriptors and sockets: flags set in the same call.
#pragma GCC poison pipe2 dup3 accept4 SOCK_CLOEXEC SOCK_NONBLOCK MSG_NOSIGNAL MSG_MORE
#pragma GCC poison MSG_CMSG_CLOEXEC POLLRDHUP ppoll recvmmsg sendmmsg close_range
#pragma GCC poison SO_PEERCRED SO_PASSCRED SCM_CREDENTIALS SO_BINDTODEVICE TCP_CORK TCP_QUICKACK
#pragma GCC poison TCP_USER_TIMEOUT TCP_DEFER_ACCEPT IP_FREEBIND IP_TRANSPARENT
// Files and pipes.
#pragma GCC poison renameat2 RENAME_EXCHANGE RENAME_NOREPLACE RENAME_WHITEOUT F_SETPIPE_SZ
#pragma GCC poison F_GETPIPE_SZ F_SETLEASE F_GETLEASE F_NOTIFY F_SETSIG F_GETSIG F_OFD_SETLK
#pragma GCC poison F_OFD_SETLKW F_OFD_GETLK F_ADD_SEALS O_PATH O_TMPFILE O_NOATIME O_DIRECT
#pragma GCC poison O_LARGEFILE AT_EMPTY_PATH statx fallocate posix_fallocate posix_fadvise
#pragma GCC poison readahead sync_file_range syncfs copy_file_range sendfile vmsplice
#pragma GCC poison memfd_create MFD_CLOEXEC name_to_handle_at statfs fstatfs st_mtim st_atim
#pragma GCC poison st_ctim get_current_dir_name canonicalize_file_name
// Event and timer descriptors.
#pragma GCC poison eventfd signalfd timerfd_create timerfd_settime epoll_create epoll_create1
#pragma GCC poison epoll_ctl epoll_wait epoll_pwait inotify_init inotify_init1 inotify_add_watch
// Processes, namespaces, identities.
#pragma GCC poison prctl PR_SET_PDEATHSIG unshare setns clone3 CLONE_NEWNET CLONE_NEWNS
#pragma GCC poison CLONE_NEWPID CLONE_NEWUSER pivot_root umount2 MS_PRIVATE MS_REC MS_BIND
#pragma GCC poison execvpe gettid tgkill syscall getauxval setresuid setresgid getresuid getresgid
#pragma GCC poison clearenv secure_getenv program_invocation_name program_invocation_short_name
#pragma GCC poison sched_setaffinity sched_getaffinity sched_getcpu pthread_setaffinity_np
#pragma GCC poison pthread_getaffinity_np pthread_getattr_np pthread_tryjoin_np
#pragma GCC poison pthread_timedjoin_np pthread_setname_np
// Signals, clocks and timed waits macOS does not have.
#pragma GCC poison SIGPOLL SIGPWR SIGSTKFLT SIGRTMIN SIGRTMAX sigtimedwait sigwaitinfo sigqueue
#pragma GCC poison timer_create timer_settime clock_nanosleep CLOCK_BOOTTIME CLOCK_TAI
#pragma GCC poison CLOCK_MONOTONIC_COARSE CLOCK_REALTIME_COARSE sem_timedwait
#pragma GCC poison pthread_mutex_timedlock pthread_condattr_setclock EBADFD
// Memory.
#pragma GCC poison mremap MREMAP_MAYMOVE MAP_POPULATE MAP_HUGETLB MAP_LOCKED mallinfo mallinfo2
#pragma GCC poison malloc_usable_size malloc_trim mallopt getrandom explicit_bzero
// The GNU C library's own string and sorting functions, and its error-number loop.
#pragma GCC poison memrchr strchrnul mempcpy rawmemchr strverscmp versionsort fopencookie
#pragma GCC poison qsort_r strerror_r TEMP_FAILURE_RETRY
