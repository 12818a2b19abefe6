/* Watches a program for a secret left in memory it gives back: loaded with
 * LD_PRELOAD, it takes the place of free() and realloc() and, before a block
 * goes back, looks in all of it for the bytes of each line of
 * $VESKCFG_WATCH_SECRET. Each block that holds one is a line in
 * $VESKCFG_WATCH_REPORT ("PROGRAM: held SIZE, freed at CALLER"), and at exit
 * a last line says how many blocks were looked at ("PROGRAM: scanned N").
 * talloc gives its chunks back through free() too, so Samba's copies are
 * seen; a block of a talloc pool is seen when the pool goes. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <malloc.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

static void (*realFree)(void *);
enum { kSecrets = 4 };
static const char *secret[kSecrets];
static size_t secretLength[kSecrets];
static int secrets;
static unsigned long scanned;
static __thread int inside; /* what reporting itself allocates and frees is not looked at */

static void report(const char *line) {
    const char *path = getenv("VESKCFG_WATCH_REPORT");
    int fd = path ? open(path, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600) : -1;
    if (fd < 0) return;
    ssize_t ignored = write(fd, line, strlen(line));
    (void)ignored;
    close(fd);
}

static void look(void *block, void *caller) {
    if (!block || !secrets || inside) return;
    inside = 1;
    size_t size = malloc_usable_size(block);
    ++scanned;
    int held = 0;
    for (int i = 0; i < secrets; ++i) held = held || (size >= secretLength[i] && memmem(block, size, secret[i], secretLength[i]));
    if (held) {
        Dl_info where = {0};
        char line[512];
        dladdr(caller, &where);
        snprintf(line, sizeof line, "%s: held %zu, freed at %s+%#lx (%s)\n", program_invocation_short_name, size,
                 where.dli_sname ? where.dli_sname : "", (unsigned long)((char *)caller -
                 (char *)(where.dli_sname ? where.dli_saddr : where.dli_fbase)), where.dli_fname ? where.dli_fname : "?");
        report(line);
    }
    inside = 0;
}

__attribute__((constructor)) static void start(void) {
    realFree = (void (*)(void *))dlsym(RTLD_NEXT, "free");
    /* The environment's own copy, split where the lines end: never freed. */
    const char *watched = getenv("VESKCFG_WATCH_SECRET");
    while (watched && *watched && secrets < kSecrets) {
        size_t length = strcspn(watched, "\n");
        secret[secrets] = watched;
        secretLength[secrets++] = length;
        watched += length + (watched[length] == '\n');
    }
}

__attribute__((destructor)) static void end(void) {
    char line[128];
    snprintf(line, sizeof line, "%s: scanned %lu\n", program_invocation_short_name, scanned);
    if (secrets) report(line);
}

void free(void *block) {
    if (!realFree) return; /* while dlsym finds the real one: a block or two kept */
    look(block, __builtin_return_address(0));
    realFree(block);
}

/* A block that moves is given back whole: done here so that it is looked at
 * before it goes. */
void *realloc(void *block, size_t size) {
    if (!block) return malloc(size);
    if (size == 0) {
        free(block);
        return NULL;
    }
    void *moved = malloc(size);
    if (!moved) return NULL;
    size_t old = malloc_usable_size(block);
    memcpy(moved, block, old < size ? old : size);
    free(block);
    return moved;
}
