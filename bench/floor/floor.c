/* pelmora-floor: the least work a tree count can do, as a yardstick for the real one.
 *
 *   pelmora-floor [-j N] DIR
 *
 * Per directory: one openat, getdents64 until it returns 0, one statx per entry whose name
 * does not begin with '.', one close. Nothing else: no path strings, no locale, no output
 * until the end. The counting rule is the program's: names beginning with '.' are neither
 * counted nor entered; symlinks are never followed; directories on another file system are
 * counted but not entered; the start directory itself is not counted. Prints
 * "DIRS FILES BYTES".
 *
 * With -j 1 (the default) the walk is a plain recursion: a directory is read completely, then
 * its subdirectories are entered one by one; it keeps one descriptor per level.
 * With -j N, N threads share one LIFO stack of directories; a directory keeps its descriptor
 * until its last subdirectory has been opened.
 */
#define _GNU_SOURCE
#include <errno.h>
#include <fcntl.h>
#include <pthread.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#define BUF_SIZE (64 * 1024)

struct linux_dirent64 {
    uint64_t d_ino;
    int64_t d_off;
    unsigned short d_reclen;
    unsigned char d_type;
    char d_name[];
};

struct totals {
    uint64_t dirs, files;
    unsigned __int128 bytes;
};

static unsigned g_dev_major, g_dev_minor;

static int open_dir(int parent, const char* name) {
    return openat(parent, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
}

/* Reads the whole directory `fd`; for each subdirectory to enter, calls `enter`. */
typedef void (*enter_fn)(void* ctx, int fd, const char* name);

static void scan(int fd, char* buf, struct totals* t, enter_fn enter, void* ctx) {
    for (;;) {
        long n = syscall(SYS_getdents64, fd, buf, BUF_SIZE);
        if (n <= 0) break;
        for (long pos = 0; pos < n;) {
            struct linux_dirent64* d = (struct linux_dirent64*)(buf + pos);
            pos += d->d_reclen;
            if (d->d_name[0] == '.') continue;
            struct statx sx;
            if (statx(fd, d->d_name, AT_SYMLINK_NOFOLLOW | AT_NO_AUTOMOUNT, STATX_TYPE | STATX_SIZE,
                      &sx) != 0)
                continue;
            t->bytes += sx.stx_size;
            if (S_ISDIR(sx.stx_mode)) {
                t->dirs++;
                if (sx.stx_dev_major == g_dev_major && sx.stx_dev_minor == g_dev_minor)
                    enter(ctx, fd, d->d_name);
            } else {
                t->files++;
            }
        }
    }
}

/* ---- single thread: recursion, one descriptor per level ---- */

/* The names of the subdirectories still to enter, level after level, each '\0'-ended. */
static char* g_names;
static size_t g_names_len, g_names_cap;
static char* g_serial_buf;

static void serial_collect(void* ctx, int fd, const char* name) {
    (void)ctx;
    (void)fd;
    size_t len = strlen(name) + 1;
    if (g_names_len + len > g_names_cap) {
        g_names_cap = g_names_cap ? 2 * g_names_cap : 4096;
        while (g_names_cap < g_names_len + len) g_names_cap *= 2;
        g_names = realloc(g_names, g_names_cap);
    }
    memcpy(g_names + g_names_len, name, len);
    g_names_len += len;
}

/* Reads `fd` completely, then enters its subdirectories one by one. */
static void serial_dir(struct totals* t, int fd) {
    size_t begin = g_names_len;
    scan(fd, g_serial_buf, t, serial_collect, NULL);
    size_t end = g_names_len;
    for (size_t pos = begin; pos < end;) {
        size_t len = strlen(g_names + pos) + 1;
        int sub = open_dir(fd, g_names + pos);
        if (sub >= 0) {
            serial_dir(t, sub);
            close(sub);
        }
        pos += len;
    }
    g_names_len = begin;
}

/* ---- N threads: shared LIFO stack of (parent, name) ---- */

struct dir {
    int fd;
    int pending; /* subdirectories not yet opened; guarded by g_lock */
};

struct item {
    struct dir* parent;
    struct item* next;
    char name[];
};

static pthread_mutex_t g_lock = PTHREAD_MUTEX_INITIALIZER;
static pthread_cond_t g_cond = PTHREAD_COND_INITIALIZER;
static struct item* g_stack;
static long g_outstanding; /* items pushed and not yet finished */

struct worker {
    pthread_t thread;
    struct totals t;
    struct dir* current;
    struct item* batch; /* children found in the current directory, pushed after the scan */
    long batch_len;
};

static void parallel_enter(void* ctx, int parent, const char* name) {
    (void)parent;
    struct worker* w = ctx;
    size_t len = strlen(name);
    struct item* it = malloc(sizeof *it + len + 1);
    memcpy(it->name, name, len + 1);
    it->parent = w->current;
    it->next = w->batch;
    w->batch = it;
    w->batch_len++;
}

static void release_parent(struct dir* d) {
    pthread_mutex_lock(&g_lock);
    int last = --d->pending == 0;
    pthread_mutex_unlock(&g_lock);
    if (last) {
        close(d->fd);
        free(d);
    }
}

static void* worker_main(void* arg) {
    struct worker* w = arg;
    char* buf = malloc(BUF_SIZE);
    pthread_mutex_lock(&g_lock);
    for (;;) {
        while (!g_stack && g_outstanding) pthread_cond_wait(&g_cond, &g_lock);
        if (!g_stack) break;
        struct item* it = g_stack;
        g_stack = it->next;
        pthread_mutex_unlock(&g_lock);

        int fd = open_dir(it->parent->fd, it->name);
        release_parent(it->parent);
        free(it);
        if (fd >= 0) {
            struct dir* d = malloc(sizeof *d);
            d->fd = fd;
            d->pending = 0;
            w->current = d;
            w->batch = NULL;
            w->batch_len = 0;
            scan(fd, buf, &w->t, parallel_enter, w);
            if (w->batch_len == 0) {
                close(fd);
                free(d);
            } else {
                d->pending = (int)w->batch_len;
            }
        }
        pthread_mutex_lock(&g_lock);
        if (fd >= 0 && w->batch) {
            struct item* last = w->batch;
            while (last->next) last = last->next;
            last->next = g_stack;
            g_stack = w->batch;
            g_outstanding += w->batch_len;
            pthread_cond_broadcast(&g_cond);
        }
        if (--g_outstanding == 0) pthread_cond_broadcast(&g_cond);
    }
    pthread_mutex_unlock(&g_lock);
    free(buf);
    return NULL;
}

int main(int argc, char** argv) {
    int jobs = 1, opt;
    while ((opt = getopt(argc, argv, "j:")) != -1) {
        if (opt == 'j') {
            jobs = atoi(optarg);
        } else {
            fprintf(stderr, "usage: pelmora-floor [-j N] DIR\n");
            return 2;
        }
    }
    if (optind + 1 != argc || jobs < 1) {
        fprintf(stderr, "usage: pelmora-floor [-j N] DIR\n");
        return 2;
    }
    int root = open(argv[optind], O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    struct statx sx;
    if (root < 0 || statx(root, "", AT_EMPTY_PATH, STATX_TYPE, &sx) != 0) {
        fprintf(stderr, "pelmora-floor: %s: %s\n", argv[optind], strerror(errno));
        return 1;
    }
    g_dev_major = sx.stx_dev_major;
    g_dev_minor = sx.stx_dev_minor;

    struct totals sum = {0, 0, 0};
    if (jobs == 1) {
        g_serial_buf = malloc(BUF_SIZE);
        serial_dir(&sum, root);
        close(root);
    } else {
        /* The start directory is scanned like any other: a pseudo-parent holds its fd. */
        struct dir* top = malloc(sizeof *top);
        top->fd = root;
        top->pending = 1;
        struct item* it = malloc(sizeof *it + 2);
        strcpy(it->name, ".");
        it->parent = top;
        it->next = NULL;
        g_stack = it;
        g_outstanding = 1;
        struct worker* ws = calloc((size_t)jobs, sizeof *ws);
        for (int i = 0; i < jobs; i++) pthread_create(&ws[i].thread, NULL, worker_main, &ws[i]);
        for (int i = 0; i < jobs; i++) {
            pthread_join(ws[i].thread, NULL);
            sum.dirs += ws[i].t.dirs;
            sum.files += ws[i].t.files;
            sum.bytes += ws[i].t.bytes;
        }
        free(ws);
    }
    char digits[48];
    int p = sizeof digits - 1;
    digits[p] = '\0';
    do {
        digits[--p] = (char)('0' + (int)(sum.bytes % 10));
        sum.bytes /= 10;
    } while (sum.bytes);
    printf("%llu %llu %s\n", (unsigned long long)sum.dirs, (unsigned long long)sum.files,
           digits + p);
    return 0;
}
