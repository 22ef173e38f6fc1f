/* Fault injection: see fault_injection.h for the rules. */
#define _GNU_SOURCE
#include "fault_injection.h"

#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>
#include <sys/mman.h>
#include <sys/types.h>
#include <sys/uio.h>
#include <unistd.h>

enum Operation { kOpen, kRead, kReadAt, kWrite, kTruncate, kClose, kMmap, kRename, kTmpfile, kLink, kOperationCount };
static const char* const kOperationNames[kOperationCount] = {"open",  "read", "pread",  "write",   "truncate",
                                                             "close", "mmap", "rename", "tmpfile", "link"};

enum { kMaxRules = 4, kMaxPattern = 64, kTrackedDescriptors = 256, kMaxPath = 256 };

struct Rule {
    enum Operation operation;
    char pattern[kMaxPattern];
    long nth;        /* 0: every selected call */
    int error;       /* 0: the call does not fail */
    long after;      /* -1: no byte budget */
    long limit;      /* 0: no per-call limit */
    int interrupt;
    int stall;
    int signal;      /* 0: none */
    int stop;        /* the caller stops itself at the call */
    /* state */
    long selected;
    long moved;
    int interrupted;
};

static struct Rule rules[kMaxRules];
static int rule_count;
static int selected_counts[kOperationCount];
/* The name each descriptor was opened under, while rules are in force. */
static char descriptor_paths[kTrackedDescriptors][kMaxPath];

/* The C library's own definition of a function we replace. */
static void* Next(const char* name) {
    void* function = dlsym(RTLD_NEXT, name);
    if (function == NULL) abort();
    return function;
}

/* The build hides symbols by default; these must be seen to take the place
 * of the C library's. */
#define INTERPOSED __attribute__((visibility("default")))

#define REAL(type, name, ...)                                   \
    static type (*real)(__VA_ARGS__);                           \
    if (real == NULL) {                                         \
        void* found = Next(name);                               \
        memcpy(&real, &found, sizeof real);                     \
    }

static int ErrorNamed(const char* name) {
    static const struct {
        const char* name;
        int value;
    } known[] = {{"EIO", EIO},       {"ENOSPC", ENOSPC}, {"EACCES", EACCES},         {"ENOMEM", ENOMEM},
                 {"EINTR", EINTR},   {"ENOENT", ENOENT}, {"EOPNOTSUPP", EOPNOTSUPP}, {"EISDIR", EISDIR},
                 {"EXDEV", EXDEV}};
    for (size_t i = 0; i < sizeof known / sizeof known[0]; ++i) {
        if (strcmp(name, known[i].name) == 0) return known[i].value;
    }
    return 0;
}

/* A signal by the name `kill -l` gives it, without SIG: HUP, USR1, RTMIN,
 * RTMIN+3, RTMAX-1... */
static int SignalNamed(const char* name) {
    static const struct {
        const char* name;
        int value;
    } known[] = {{"HUP", SIGHUP},     {"INT", SIGINT},         {"QUIT", SIGQUIT},     {"ILL", SIGILL},
                 {"TRAP", SIGTRAP},   {"ABRT", SIGABRT},       {"BUS", SIGBUS},       {"FPE", SIGFPE},
                 {"KILL", SIGKILL},   {"USR1", SIGUSR1},       {"SEGV", SIGSEGV},     {"USR2", SIGUSR2},
                 {"PIPE", SIGPIPE},   {"ALRM", SIGALRM},       {"TERM", SIGTERM},     {"STKFLT", SIGSTKFLT},
                 {"CHLD", SIGCHLD},   {"CONT", SIGCONT},       {"STOP", SIGSTOP},     {"TSTP", SIGTSTP},
                 {"TTIN", SIGTTIN},   {"TTOU", SIGTTOU},       {"URG", SIGURG},       {"XCPU", SIGXCPU},
                 {"XFSZ", SIGXFSZ},   {"VTALRM", SIGVTALRM},   {"PROF", SIGPROF},     {"WINCH", SIGWINCH},
                 {"IO", SIGIO},       {"POLL", SIGPOLL},       {"PWR", SIGPWR},       {"SYS", SIGSYS}};
    for (size_t i = 0; i < sizeof known / sizeof known[0]; ++i) {
        if (strcmp(name, known[i].name) == 0) return known[i].value;
    }
    int base = 0, direction = 0;
    if (strncmp(name, "RTMIN", 5) == 0) base = SIGRTMIN, direction = 1;
    if (strncmp(name, "RTMAX", 5) == 0) base = SIGRTMAX, direction = -1;
    if (base == 0) return 0;
    if (name[5] == '\0') return base;
    if (name[5] != (direction > 0 ? '+' : '-')) return 0;
    const int offset = atoi(name + 6);
    const int value = base + direction * offset;
    return offset > 0 && value >= SIGRTMIN && value <= SIGRTMAX ? value : 0;
}

static int ParseField(struct Rule* rule, char* field) {
    char* value = strchr(field, '=');
    if (value != NULL) *value++ = '\0';
    if (strcmp(field, "op") == 0 && value != NULL) {
        for (int op = 0; op < kOperationCount; ++op) {
            if (strcmp(value, kOperationNames[op]) == 0) {
                rule->operation = (enum Operation)op;
                return 0;
            }
        }
        return -1;
    }
    if (strcmp(field, "path") == 0 && value != NULL && strlen(value) < kMaxPattern) {
        strcpy(rule->pattern, value);
        return 0;
    }
    if (strcmp(field, "fail") == 0 && value != NULL) {
        rule->error = ErrorNamed(value);
        return rule->error == 0 ? -1 : 0;
    }
    if (strcmp(field, "nth") == 0 && value != NULL) return (rule->nth = atol(value)) > 0 ? 0 : -1;
    if (strcmp(field, "after") == 0 && value != NULL) return (rule->after = atol(value)) >= 0 ? 0 : -1;
    if (strcmp(field, "limit") == 0 && value != NULL) return (rule->limit = atol(value)) > 0 ? 0 : -1;
    if (strcmp(field, "interrupt") == 0 && value == NULL) return rule->interrupt = 1, 0;
    if (strcmp(field, "stall") == 0 && value == NULL) return rule->stall = 1, 0;
    if (strcmp(field, "stop") == 0 && value == NULL) return rule->stop = 1, 0;
    if (strcmp(field, "signal") == 0 && value != NULL) return (rule->signal = SignalNamed(value)) != 0 ? 0 : -1;
    return -1;
}

INTERPOSED int TintwellFaultsConfigure(const char* text) {
    rule_count = 0;
    memset(selected_counts, 0, sizeof selected_counts);
    memset(descriptor_paths, 0, sizeof descriptor_paths);
    char copy[512];
    if (text == NULL || strlen(text) >= sizeof copy) return text == NULL ? 0 : -1;
    strcpy(copy, text);
    char* rule_state = NULL;
    for (char* rule_text = strtok_r(copy, ";", &rule_state); rule_text != NULL;
         rule_text = strtok_r(NULL, ";", &rule_state)) {
        if (rule_count == kMaxRules) return rule_count = 0, -1;
        struct Rule rule = {.operation = kOperationCount, .after = -1};
        char* field_state = NULL;
        for (char* field = strtok_r(rule_text, ",", &field_state); field != NULL;
             field = strtok_r(NULL, ",", &field_state)) {
            if (ParseField(&rule, field) != 0) return rule_count = 0, -1;
        }
        if (rule.operation == kOperationCount) return rule_count = 0, -1;
        rules[rule_count++] = rule;
    }
    return 0;
}

INTERPOSED int TintwellFaultsSelected(const char* op) {
    for (int i = 0; i < kOperationCount; ++i) {
        if (strcmp(op, kOperationNames[i]) == 0) return selected_counts[i];
    }
    return -1;
}

__attribute__((constructor)) static void ConfigureFromEnvironment(void) {
    TintwellFaultsConfigure(getenv("TINTWELL_FAULTS"));
}

/* The counts a test needs to choose the Nth call of a run like this one. */
__attribute__((destructor)) static void TallyToFile(void) {
    const char* file = getenv("TINTWELL_FAULTS_TALLY");
    if (file == NULL || rule_count == 0) return;
    char text[256];
    size_t length = 0;
    for (int op = 0; op < kOperationCount; ++op) {
        const int written = snprintf(text + length, sizeof text - length, "%s %d\n", kOperationNames[op],
                                     selected_counts[op]);
        if (written > 0) length += (size_t)written;
    }
    rule_count = 0; /* the tally's own calls are not counted */
    const int descriptor = open(file, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (descriptor < 0) return;
    if (write(descriptor, text, length) < 0) { /* nothing to do about it at exit */
    }
    close(descriptor);
}

static const char* PathOf(int descriptor) {
    return descriptor >= 0 && descriptor < kTrackedDescriptors ? descriptor_paths[descriptor] : "";
}

/* The rule that decides this call, or NULL to let it pass. Every selecting
 * rule counts the call. */
static struct Rule* Select(enum Operation operation, const char* path) {
    struct Rule* chosen = NULL;
    int selected = 0;
    for (int i = 0; i < rule_count; ++i) {
        struct Rule* rule = &rules[i];
        if (rule->operation != operation) continue;
        if (operation != kMmap && (path[0] == '\0' || strstr(path, rule->pattern) == NULL)) continue;
        selected = 1;
        ++rule->selected;
        if (chosen == NULL && (rule->nth == 0 || rule->selected == rule->nth)) chosen = rule;
    }
    selected_counts[operation] += selected;
    return chosen;
}

/* What a selected call does: fail with an error, or move at most `*cap`
 * bytes. Returns the error, or 0 to go ahead. */
static int Decide(struct Rule* rule, size_t* cap) {
    if (rule->signal != 0) kill(0, rule->signal);
    if (rule->stop) raise(SIGSTOP);
    if (rule->interrupt) {
        rule->interrupted = !rule->interrupted;
        if (rule->interrupted) return EINTR;
    }
    if (rule->after >= 0) {
        if (rule->moved >= rule->after) return rule->error != 0 ? rule->error : EIO;
        if (*cap > (size_t)(rule->after - rule->moved)) *cap = (size_t)(rule->after - rule->moved);
    } else if (rule->error != 0) {
        return rule->error;
    }
    if (rule->limit > 0 && *cap > (size_t)rule->limit) *cap = (size_t)rule->limit;
    return 0;
}

static ssize_t Moved(struct Rule* rule, ssize_t count) {
    if (rule != NULL && count > 0) rule->moved += count;
    return count;
}

static int Open(const char* path, int flags, mode_t mode, const char* real_name) {
    REAL(int, real_name, const char*, int, ...)
    struct Rule* rule = rule_count > 0 ? Select(kOpen, path) : NULL;
    size_t unused = 0;
    const int error = rule != NULL ? Decide(rule, &unused) : 0;
    if (error != 0) {
        errno = error;
        return -1;
    }
    const int descriptor = real(path, flags, mode);
    if (rule_count > 0 && descriptor >= 0 && descriptor < kTrackedDescriptors) {
        strncpy(descriptor_paths[descriptor], path, kMaxPath - 1);
    }
    return descriptor;
}

static mode_t ModeArgument(int flags, va_list arguments) {
    return (flags & (O_CREAT | O_TMPFILE)) != 0 ? (mode_t)va_arg(arguments, int) : 0;
}

/* open64 is open under another name (large-file builds call it). */
#define FORWARD_OPEN(name)                                      \
    va_list arguments;                                          \
    va_start(arguments, flags);                                 \
    const mode_t mode = ModeArgument(flags, arguments);         \
    va_end(arguments);                                          \
    return Open(path, flags, mode, name)

INTERPOSED int open(const char* path, int flags, ...) { FORWARD_OPEN("open"); }

INTERPOSED int open64(const char* path, int flags, ...) { FORWARD_OPEN("open64"); }

/* openat: only the opens that make an unnamed file (O_TMPFILE) are selected,
 * by op=tmpfile, with the directory's name as given; the others pass. */
static int OpenAt(int directory, const char* path, int flags, mode_t mode, const char* real_name) {
    REAL(int, real_name, int, const char*, int, ...)
    if (rule_count > 0 && (flags & O_TMPFILE) == O_TMPFILE) {
        struct Rule* rule = Select(kTmpfile, path);
        size_t unused = 0;
        const int error = rule != NULL ? Decide(rule, &unused) : 0;
        if (error != 0) return errno = error, -1;
    }
    return real(directory, path, flags, mode);
}

#define FORWARD_OPENAT(name)                                    \
    va_list arguments;                                          \
    va_start(arguments, flags);                                 \
    const mode_t mode = ModeArgument(flags, arguments);         \
    va_end(arguments);                                          \
    return OpenAt(directory, path, flags, mode, name)

INTERPOSED int openat(int directory, const char* path, int flags, ...) { FORWARD_OPENAT("openat"); }

INTERPOSED int openat64(int directory, const char* path, int flags, ...) { FORWARD_OPENAT("openat64"); }

/* linkat, selected by op=link with the new name. */
INTERPOSED int linkat(int old_directory, const char* old_name, int new_directory, const char* new_name, int flags) {
    REAL(int, "linkat", int, const char*, int, const char*, int)
    struct Rule* rule = rule_count > 0 ? Select(kLink, new_name) : NULL;
    size_t unused = 0;
    const int error = rule != NULL ? Decide(rule, &unused) : 0;
    if (error != 0) return errno = error, -1;
    return real(old_directory, old_name, new_directory, new_name, flags);
}

static const struct iovec* FirstSpan(const struct iovec* spans, int count) {
    for (int i = 0; i < count; ++i) {
        if (spans[i].iov_len > 0) return &spans[i];
    }
    return NULL;
}

/* A selected call moves at most `size` bytes, fails, or reports no progress. */
static ssize_t Transfer(struct Rule* rule, int descriptor, void* buffer, size_t size,
                        ssize_t (*real)(int, void*, size_t)) {
    const int error = rule != NULL ? Decide(rule, &size) : 0;
    if (error != 0) return errno = error, -1;
    if (rule != NULL && rule->stall) return 0;
    return Moved(rule, real(descriptor, buffer, size));
}

typedef ssize_t (*VectoredCall)(int, const struct iovec*, int);

/* A selected vectored call moves part of its first non-empty span at most,
 * which is what a short read or write looks like, or fails. */
static ssize_t TransferSpans(struct Rule* rule, int descriptor, const struct iovec* spans, int count,
                             VectoredCall real) {
    if (rule == NULL) return real(descriptor, spans, count);
    const struct iovec* first = FirstSpan(spans, count);
    size_t cap = first != NULL ? first->iov_len : 0;
    const int error = Decide(rule, &cap);
    if (error != 0) return errno = error, -1;
    if (rule->stall) return 0;
    if (first == NULL) return real(descriptor, spans, count);
    const struct iovec capped = {first->iov_base, cap};
    return Moved(rule, real(descriptor, &capped, 1));
}

INTERPOSED ssize_t read(int descriptor, void* buffer, size_t size) {
    REAL(ssize_t, "read", int, void*, size_t)
    return Transfer(rule_count > 0 ? Select(kRead, PathOf(descriptor)) : NULL, descriptor, buffer, size, real);
}

INTERPOSED ssize_t readv(int descriptor, const struct iovec* spans, int count) {
    REAL(ssize_t, "readv", int, const struct iovec*, int)
    return TransferSpans(rule_count > 0 ? Select(kRead, PathOf(descriptor)) : NULL, descriptor, spans, count, real);
}

/* write() takes a const buffer; the shared path never writes through it. */
static ssize_t (*real_write)(int, const void*, size_t);

static ssize_t WriteThrough(int descriptor, void* buffer, size_t size) {
    return real_write(descriptor, buffer, size);
}

INTERPOSED ssize_t write(int descriptor, const void* buffer, size_t size) {
    if (real_write == NULL) {
        void* found = Next("write");
        memcpy(&real_write, &found, sizeof real_write);
    }
    struct Rule* rule = rule_count > 0 ? Select(kWrite, PathOf(descriptor)) : NULL;
    if (rule == NULL) return real_write(descriptor, buffer, size);
    return Transfer(rule, descriptor, (void*)buffer, size, WriteThrough);
}

INTERPOSED ssize_t writev(int descriptor, const struct iovec* spans, int count) {
    REAL(ssize_t, "writev", int, const struct iovec*, int)
    return TransferSpans(rule_count > 0 ? Select(kWrite, PathOf(descriptor)) : NULL, descriptor, spans, count, real);
}

/* Reads at an offset: the same as a vectored read, at the offset asked.
 * The plain call takes off_t, the large-file one off64_t; they differ on
 * 32-bit targets, where large-file builds call only the second. */
#define TRANSFER_SPANS_AT(name, offset_type)                                                                \
    static ssize_t name(struct Rule* rule, int descriptor, const struct iovec* spans, int count,           \
                        offset_type offset, ssize_t (*real)(int, const struct iovec*, int, offset_type)) { \
        if (rule == NULL) return real(descriptor, spans, count, offset);                                    \
        const struct iovec* first = FirstSpan(spans, count);                                                \
        size_t cap = first != NULL ? first->iov_len : 0;                                                    \
        const int error = Decide(rule, &cap);                                                               \
        if (error != 0) return errno = error, -1;                                                           \
        if (rule->stall) return 0;                                                                          \
        if (first == NULL) return real(descriptor, spans, count, offset);                                   \
        const struct iovec capped = {first->iov_base, cap};                                                 \
        return Moved(rule, real(descriptor, &capped, 1, offset));                                           \
    }

TRANSFER_SPANS_AT(TransferSpansAt, off_t)
TRANSFER_SPANS_AT(TransferSpansAt64, off64_t)

INTERPOSED ssize_t preadv(int descriptor, const struct iovec* spans, int count, off_t offset) {
    REAL(ssize_t, "preadv", int, const struct iovec*, int, off_t)
    return TransferSpansAt(rule_count > 0 ? Select(kReadAt, PathOf(descriptor)) : NULL, descriptor, spans, count,
                           offset, real);
}

INTERPOSED ssize_t preadv64(int descriptor, const struct iovec* spans, int count, off64_t offset) {
    REAL(ssize_t, "preadv64", int, const struct iovec*, int, off64_t)
    return TransferSpansAt64(rule_count > 0 ? Select(kReadAt, PathOf(descriptor)) : NULL, descriptor, spans, count,
                           offset, real);
}

/* The error a selected truncate fails with, or 0 to go ahead. */
static int TruncateError(int descriptor) {
    struct Rule* rule = rule_count > 0 ? Select(kTruncate, PathOf(descriptor)) : NULL;
    size_t unused = 0;
    return rule != NULL ? Decide(rule, &unused) : 0;
}

INTERPOSED int ftruncate(int descriptor, off_t length) {
    REAL(int, "ftruncate", int, off_t)
    const int error = TruncateError(descriptor);
    if (error != 0) return errno = error, -1;
    return real(descriptor, length);
}

INTERPOSED int ftruncate64(int descriptor, off64_t length) {
    REAL(int, "ftruncate64", int, off64_t)
    const int error = TruncateError(descriptor);
    if (error != 0) return errno = error, -1;
    return real(descriptor, length);
}

INTERPOSED int close(int descriptor) {
    REAL(int, "close", int)
    struct Rule* rule = rule_count > 0 ? Select(kClose, PathOf(descriptor)) : NULL;
    if (descriptor >= 0 && descriptor < kTrackedDescriptors) descriptor_paths[descriptor][0] = '\0';
    const int result = real(descriptor);
    size_t unused = 0;
    const int error = rule != NULL ? Decide(rule, &unused) : 0;
    /* The descriptor is released either way, as after a real failed close. */
    if (error != 0) return errno = error, -1;
    return result;
}

#define FORWARD_MMAP(name, offset_type)                                         \
    REAL(void*, name, void*, size_t, int, int, int, offset_type)               \
    struct Rule* rule = rule_count > 0 ? Select(kMmap, "") : NULL;             \
    size_t unused = 0;                                                         \
    const int error = rule != NULL ? Decide(rule, &unused) : 0;                \
    if (error != 0) return errno = error, MAP_FAILED;                          \
    return real(address, size, protection, flags, descriptor, offset);

INTERPOSED void* mmap(void* address, size_t size, int protection, int flags, int descriptor, off_t offset) {
    FORWARD_MMAP("mmap", off_t)
}

/* mmap64 is mmap with a 64-bit offset (large-file builds call it). */
INTERPOSED void* mmap64(void* address, size_t size, int protection, int flags, int descriptor, off64_t offset) {
    FORWARD_MMAP("mmap64", off64_t)
}

static int Rename(const char* new_name) {
    struct Rule* rule = rule_count > 0 ? Select(kRename, new_name) : NULL;
    size_t unused = 0;
    return rule != NULL ? Decide(rule, &unused) : 0;
}

INTERPOSED int rename(const char* old_name, const char* new_name) {
    REAL(int, "rename", const char*, const char*)
    const int error = Rename(new_name);
    if (error != 0) return errno = error, -1;
    return real(old_name, new_name);
}

INTERPOSED int renameat(int old_directory, const char* old_name, int new_directory, const char* new_name) {
    REAL(int, "renameat", int, const char*, int, const char*)
    const int error = Rename(new_name);
    if (error != 0) return errno = error, -1;
    return real(old_directory, old_name, new_directory, new_name);
}
