/* Loaded under the documentation's examples (LD_PRELOAD): the system they were written on.
 * uname() reports TRAWLER_DOCS_RELEASE as the kernel release, which the "PCDT" line carries,
 * and time() reports TRAWLER_DOCS_NOW (seconds since 1970) when it is set, so that a package
 * made for an example has the bytes, offsets and digest the example shows. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <stdlib.h>
#include <string.h>
#include <sys/utsname.h>
#include <time.h>

int uname(struct utsname* name) {
    int (*real)(struct utsname*) = (int (*)(struct utsname*))dlsym(RTLD_NEXT, "uname");
    int result = real(name);
    const char* release = getenv("TRAWLER_DOCS_RELEASE");
    if (result == 0 && release != NULL) {
        strncpy(name->release, release, sizeof name->release - 1);
        name->release[sizeof name->release - 1] = '\0';
    }
    return result;
}

time_t time(time_t* out) {
    const char* now = getenv("TRAWLER_DOCS_NOW");
    time_t value;
    if (now != NULL) {
        value = (time_t)strtoll(now, NULL, 10);
    } else {
        struct timespec ts;
        clock_gettime(CLOCK_REALTIME, &ts);
        value = ts.tv_sec;
    }
    if (out != NULL) *out = value;
    return value;
}
