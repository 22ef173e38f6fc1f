/*
 * Fault injection for the system calls the library makes on its files.
 *
 * Linked into a test program, fault_injection.c defines open, openat, read,
 * readv, preadv, write, writev, ftruncate, close, mmap, rename, renameat and
 * linkat; those
 * definitions take precedence over the C library's in the whole process, the
 * library under test included. Preloaded into another program (LD_PRELOAD),
 * it takes its rules from the variable TINTWELL_FAULTS, and when
 * TINTWELL_FAULTS_TALLY names a file, appends to it at exit how many calls
 * the rules selected, one "OP COUNT" line for each operation. A call that no
 * rule selects passes straight through.
 *
 * Rules are separated by ';', their fields by ',':
 *   op=open|read|pread|write|truncate|close|mmap|rename|tmpfile|link
 *                 which calls the rule selects (read: read, readv; pread:
 *                 preadv, reads at an offset; truncate: ftruncate; rename:
 *                 rename, renameat; tmpfile: an openat that makes an unnamed
 *                 file, O_TMPFILE; link: linkat)
 *   path=TEXT     only files whose name contains TEXT (ignored for mmap; a
 *                 rename's or a link's name is the new one; a tmpfile's is
 *                 its directory's, as given to openat)
 *   nth=N         only the Nth selected call (1-based); default every call
 *   fail=ERRNO    the call fails with EIO, ENOSPC, EACCES, ENOMEM, EINTR,
 *                 ENOENT, EOPNOTSUPP, EISDIR or EXDEV
 *   after=BYTES   read/pread/write: move this many bytes first, then fail
 *   limit=BYTES   read/pread/write: move at most this many bytes per call
 *   interrupt     every selected call first fails once with EINTR
 *   stall         read/pread/write: report no progress (0: end of file for
 *                 a read)
 *   signal=NAME   first send the signal NAME, as `kill -l` names it without
 *                 SIG (KILL, TERM, USR1, PWR, RTMIN, RTMIN+3, RTMAX-1...),
 *                 to the caller's process group; a caller that lives on
 *                 makes the call. Kills at a chosen call, where a kill from
 *                 outside lands at a moment of chance.
 *   stop          the caller stops itself (SIGSTOP) at the selected call and
 *                 makes it once continued: a test acts on the process while
 *                 it is held there, then sends SIGCONT.
 * e.g. "op=read,path=in.bmp,after=54,fail=EIO".
 */
#ifndef TINTWELL_FAULT_INJECTION_H
#define TINTWELL_FAULT_INJECTION_H

#ifdef __cplusplus
extern "C" {
#endif

/* Replaces the rules (an empty text removes them) and zeroes the counts.
 * Returns 0, or -1 when the text does not parse. */
int TintwellFaultsConfigure(const char* rules);

/* How many calls of `op` ("open", "read", ...) the rules selected since the
 * last TintwellFaultsConfigure, whether or not they were made to fail. */
int TintwellFaultsSelected(const char* op);

#ifdef __cplusplus
}
#endif

#endif /* TINTWELL_FAULT_INJECTION_H */
