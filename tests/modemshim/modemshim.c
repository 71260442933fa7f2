/* Modem lines for pseudo-terminals.
 *
 * Linux gives a pseudo-terminal no modem lines: TIOCMGET and friends fail
 * with ENOTTY. Preloaded into a process, this library answers those requests
 * on pseudo-terminal slaves from a state of its own, so that the far end of a
 * pseudo-terminal can play a cable (DSR) and a powered unit (CTS):
 *
 *   - in-process, modemshim_set_lines(bits) sets the input lines (TIOCM_DSR,
 *     TIOCM_CTS, TIOCM_CAR, TIOCM_RNG) and engages the library;
 *     modemshim_release() hands every request to the kernel again;
 *   - in a child process, the file named by MODEMSHIM_STATE holds the input
 *     bits as a number (decimal, or hexadecimal with 0x); it is read on every
 *     TIOCMGET, and a missing file reads as all lines off.
 *
 * DTR and RTS, set through TIOCMSET/TIOCMBIS/TIOCMBIC, are kept and read back.
 * A slave whose master has gone away fails as the kernel makes it fail. Every
 * other request, and every other descriptor, goes to the real ioctl. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <termios.h>

typedef int (*ioctl_fn)(int, unsigned long, ...);

#define INPUT_BITS (TIOCM_DSR | TIOCM_CTS | TIOCM_CAR | TIOCM_RNG)
#define OUTPUT_BITS (TIOCM_DTR | TIOCM_RTS)

/* Unix98 pseudo-terminal slaves: majors 136 to 143. */
#define PTS_MAJOR_FIRST 136
#define PTS_MAJOR_LAST 143

static int g_engaged;
static int g_inputs;
static int g_outputs;

static ioctl_fn real_ioctl(void)
{
    static ioctl_fn fn;
    if (!fn)
        fn = (ioctl_fn)dlsym(RTLD_NEXT, "ioctl");
    return fn;
}

static int forward(int fd, unsigned long request, void *arg)
{
    ioctl_fn fn = real_ioctl();
    if (!fn) {
        errno = ENOSYS;
        return -1;
    }
    return fn(fd, request, arg);
}

static int is_pty_slave(int fd)
{
    struct stat st;
    if (fstat(fd, &st) != 0 || !S_ISCHR(st.st_mode))
        return 0;
    const unsigned int m = major(st.st_rdev);
    return m >= PTS_MAJOR_FIRST && m <= PTS_MAJOR_LAST;
}

static const char *state_file(void)
{
    const char *path = getenv("MODEMSHIM_STATE");
    return (path && *path) ? path : NULL;
}

static int current_inputs(void)
{
    if (__atomic_load_n(&g_engaged, __ATOMIC_ACQUIRE))
        return __atomic_load_n(&g_inputs, __ATOMIC_ACQUIRE);
    const char *path = state_file();
    if (!path)
        return 0;
    FILE *f = fopen(path, "r");
    if (!f)
        return 0;
    char text[64] = {0};
    const size_t n = fread(text, 1, sizeof text - 1, f);
    fclose(f);
    text[n] = '\0';
    return (int)strtol(text, NULL, 0) & INPUT_BITS;
}

static int engaged(void)
{
    return __atomic_load_n(&g_engaged, __ATOMIC_ACQUIRE) || state_file() != NULL;
}

int ioctl(int fd, unsigned long request, ...)
{
    va_list args;
    va_start(args, request);
    void *arg = va_arg(args, void *);
    va_end(args);

    if ((request != TIOCMGET && request != TIOCMSET && request != TIOCMBIS && request != TIOCMBIC)
        || !engaged() || !is_pty_slave(fd))
        return forward(fd, request, arg);

    /* A hung-up slave (its master closed: the adapter is gone) fails every
     * request; let the kernel say so. */
    struct termios tio;
    if (forward(fd, TCGETS, &tio) == -1)
        return -1;
    if (!arg) {
        errno = EFAULT;
        return -1;
    }

    int *bits = (int *)arg;
    switch (request) {
    case TIOCMGET:
        *bits = current_inputs() | __atomic_load_n(&g_outputs, __ATOMIC_ACQUIRE);
        return 0;
    case TIOCMSET:
        __atomic_store_n(&g_outputs, *bits & OUTPUT_BITS, __ATOMIC_RELEASE);
        return 0;
    case TIOCMBIS:
        __atomic_fetch_or(&g_outputs, *bits & OUTPUT_BITS, __ATOMIC_ACQ_REL);
        return 0;
    default:
        __atomic_fetch_and(&g_outputs, ~(*bits & OUTPUT_BITS), __ATOMIC_ACQ_REL);
        return 0;
    }
}

void modemshim_set_lines(int bits)
{
    __atomic_store_n(&g_inputs, bits & INPUT_BITS, __ATOMIC_RELEASE);
    __atomic_store_n(&g_engaged, 1, __ATOMIC_RELEASE);
}

void modemshim_release(void)
{
    __atomic_store_n(&g_engaged, 0, __ATOMIC_RELEASE);
    __atomic_store_n(&g_outputs, 0, __ATOMIC_RELEASE);
}

int modemshim_lines(void)
{
    return current_inputs() | __atomic_load_n(&g_outputs, __ATOMIC_ACQUIRE);
}
