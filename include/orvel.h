/*
 * orvel - process-wide trace (logging) library.
 *
 * One global trace state: a level filter, an option word choosing the parts
 * of a line, an output (file, descriptor or custom writer), colours, a tag,
 * call-depth indentation and size/age based rotation of a log file.
 *
 * Levels: ERR 4, WARN 5, NOTICE 6, INFO 7, DEBUG 8 (default), FULL 9.
 * A line is written when its level is at or below the current level.
 * Start values: level 8, options 0xFF, no output (lines are dropped until a
 * file, a descriptor or a writer is set, or ORVEL_OPT_STDOUT is on).
 *
 * Line layout (each part only under its option):
 *   LEVEL [d/mm/yy hh:mm:ss.mmm](pid:0xtid)TAG INDENT<colour>message [module:function:file:line]
 * Control bytes, 0x7F and backslash in the message are written escaped
 * ("\t", "\x1b", "\\"), so every line holds exactly one line feed.
 *
 * Limits:
 *   - a log path passed by the host holds at most 255 characters; a longer
 *     one is refused (see __settracefile), never cut;
 *   - indentation is at most 40 blanks, whatever the call depth;
 *   - a module name is shown only when shorter than 80 characters;
 *   - hex-dump lines show 16 bytes each and are 71 characters long, one more
 *     for each backslash among the characters (escaped "\\" as in a message).
 * Nothing in this library ends the host process.
 * All functions are safe to call from several threads. Lines and hex dumps
 * are written whole and in the order they were traced. To a file or
 * descriptor a line, and a whole hex dump, is one write() under the library's
 * lock, so processes appending to one log file never split them.
 * A writer or hook runs under that lock: it gets every line, whole, one
 * thread at a time and in order, and is never called again once the
 * __settracer, __settracefd or __closetracefile that replaced or removed it
 * has returned. A thread's trace call waits at most for the lines other
 * threads are writing. A writer or hook may trace (the lock is recursive;
 * that line reaches the writer at once, from inside the call), but must not
 * call into libtarvik.so or libselvane.so: a thread inside a call of theirs
 * may be waiting for this lock while the writer waits for their lock.
 * fork(): the library's lock is held across fork(), so a fork waits at most
 * for the line being written (a writer or hook included), and the child gets
 * a consistent state with a fresh lock and its own process and thread ids.
 * Everything a line needs, local time included, is made under that lock, so
 * a child's calls never wait for a thread of the kit it does not have. A host
 * thread of its own that was inside localtime() or another C library call at
 * the fork is outside the kit: as POSIX says, a child of a threaded process
 * may then call only async-signal-safe functions until it execs.
 */
#ifndef ORVEL_H
#define ORVEL_H

#ifdef __cplusplus
extern "C" {
#endif

/* Trace levels. */
#define ORVEL_ERR    4u
#define ORVEL_WARN   5u
#define ORVEL_NOTICE 6u
#define ORVEL_INFO   7u
#define ORVEL_DEBUG  8u
#define ORVEL_FULL   9u

/* Option bits (the default option word is 0xFF). */
#define ORVEL_OPT_DATE        0x1u     /* date "%2d/%02d/%02d" (day, month, year % 100) in "[...]" */
#define ORVEL_OPT_TIME        0x2u     /* local time "%2d:%02d:%02d" in "[...]" */
#define ORVEL_OPT_LEVEL       0x4u     /* level part */
#define ORVEL_OPT_LEVEL_NAME  0x8u     /* level as "ERR " ... "FUL ", else "[n]" */
#define ORVEL_OPT_FUNCTION    0x10u    /* function name in the location */
#define ORVEL_OPT_FILE        0x20u    /* source base name in the location */
#define ORVEL_OPT_LINE        0x40u    /* line number (with ORVEL_OPT_FILE) */
#define ORVEL_OPT_TAG         0x80u    /* the tag set by __settracetag */
#define ORVEL_OPT_COLOR       0x100u   /* ANSI colour sequences */
#define ORVEL_OPT_DEPTH       0x200u   /* call-depth tracking */
#define ORVEL_OPT_STDOUT      0x800u   /* no writer set: write to descriptor 1 */
#define ORVEL_OPT_PID         0x2000u  /* process id */
#define ORVEL_OPT_TID         0x4000u  /* thread id */
#define ORVEL_OPT_INDENT      0x8000u  /* indent by call depth (with DEPTH) */
#define ORVEL_OPT_MSEC        0x10000u /* milliseconds after the time */
#define ORVEL_OPT_ROTATE      0x20000u /* rotation check before each line */
#define ORVEL_OPT_MODULE      0x40000u /* calling module's file name */

/* A writer receives every piece of a line; its result is ignored. */
typedef int (*orvel_writer_fn)(int fd, const void *bytes, unsigned int length);
/* A hook is called with phase 1 before and phase 2 after each message. */
typedef void (*orvel_hook_fn)(int fd, int phase);

/* Does nothing; kept for hosts that call it. */
void __init_trace(void);
/* Current option word. */
unsigned int __gettraceopts(void);
/* Current level. */
unsigned int __gettracelevel(void);
/* Output descriptor, -1 when none. */
int __gettracefd(void);
/* Call depth, -1 until first set. */
int __get_call_depth(void);
/* 1 when a line of this level would be written, else 0. */
int __istraced(unsigned int level);
/* Sets the level (not validated). */
void __settracelevel(unsigned int level);
/* Sets the level by a prefix of its long name ("E", "WARN"...); else DEBUG. */
void __settracelevel_s(const char *name);
/* Sets the option word; switching ORVEL_OPT_DEPTH on sets the depth to 0. */
void __settraceopts(unsigned int options);
/* Sets writer, descriptor and hook (any may be null); closes nothing, keeps the log path. */
void __settracer(orvel_writer_fn writer, int fd, orvel_hook_fn hook);
/* Sets the tag (null clears it); the pointer is kept, so the caller keeps the text alive while set. */
void __settracetag(const char *tag);
/* Sets a level's console colour: bits 0-2 black, blue, green, cyan, red, magenta, yellow, white; bit 3
 * bright; negative = none. A level without a row (not 4-9) sets the default colour used for such levels
 * and for rows whose colour is negative. */
void __settracecolor(unsigned int level, int colour);
/* Closes the current output, then opens (appends to) the log file at path, created with mode 0664 when
 * missing; lines of other threads wait meanwhile, none is lost. A relative path is made absolute from the
 * current folder now: the log stays that file when the host changes folder later. A null or empty path, a
 * path longer than 255 characters (as passed; its absolute form may be longer, up to PATH_MAX), one whose
 * absolute form does not fit in PATH_MAX or whose folder cannot be named, or one that cannot be opened
 * writes "Can't open log file\n" to standard error and leaves no output; the process goes on. */
void __settracefile(const char *path);
/* Closes the current output when it is a regular file (as __closetracefile) and is not this descriptor,
 * and stores the descriptor, under one hold of the lock: lines of other threads wait meanwhile, none is
 * lost. Setting the current descriptor again closes nothing. Above 0 lines go to it with the default
 * writer (no hook), 0 or less leaves no writer. */
void __settracefd(int fd);
/* Closes the output descriptor when it is a regular file (terminals, pipes and sockets stay open);
 * afterwards there is no output. Level, options, tag, colours and depth are kept. */
void __closetracefile(void);
/* Rotation (only under ORVEL_OPT_ROTATE and only for the file set by __settracefile, with no custom
 * writer or hook): before a line, the file is rotated when it has reached this many bytes (0 = no limit)
 * or, below, is older than the interval (counted from when this process opened it). Copies are "path.1"
 * (newest) to "path.N" (N = backlogs); with backlogs 0 the old file is deleted. A line costs one stat
 * of the path (and a clock read when an interval is set), whatever the settings: a process whose file
 * another process rotated away sees so at its next line and writes it to the new file at the path (its
 * age counts from then), not to the rotated copy or the deleted file. Only a line written in the moment
 * between that stat and the other process's rename or delete lands at the end of the old file. Processes
 * rotating the same path take turns: a due rotation, the shift of the copies and the line are done under
 * an flock on the log's folder, taken only then, so the copies stay numbered without a gap. When the
 * folder cannot be opened or locked (no read permission), the line goes to the file at the path and
 * nothing rotates: no line is lost. */
void __setrotatesize(unsigned int bytes);
/* Rotation interval in seconds (0 = no age limit); see __setrotatesize. */
void __setrotateinterval(unsigned int seconds);
/* Number of rotated copies kept; see __setrotatesize. */
void __setrotatebacklogs(unsigned int count);
/* Sets the call depth (indentation under ORVEL_OPT_DEPTH and ORVEL_OPT_INDENT, at most 40 blanks); a
 * negative depth switches ORVEL_OPT_DEPTH off. */
void __set_call_depth(int depth);
/* Depth + 1 while ORVEL_OPT_DEPTH is on. */
void __incr_call_depth(void);
/* Depth - 1 while ORVEL_OPT_DEPTH is on; below 0 switches it off. */
void __decr_call_depth(void);
/* printf-style formatting into a new heap text for __trace, which frees it (free() otherwise).
 * Null when the format is null, the formatter reports an error or memory runs out. */
char *__tracev(const char *format, ...) __attribute__((format(printf, 1, 2)));
/* Writes one line and frees the message (a text from __tracev), also when the level filters it out;
 * a null message writes nothing. Any of function and path may be null. Keeps errno. */
void __trace(unsigned int level, const char *function, const char *path, int line, char *message);
/* Formats and writes one line; nothing is formatted and no lock taken when the level is filtered out.
 * A line that cannot be formatted (see __tracev) is dropped. Keeps errno. */
void __tracef(unsigned int level, const char *function, const char *path, int line, const char *format, ...)
    __attribute__((format(printf, 5, 6)));
/* Writes length bytes of data as hex-dump lines of 16 bytes (offset, hex pairs, characters) at the
 * level; function, path and line are not written. The hook runs once around the whole dump. Null data
 * writes nothing. Keeps errno. */
void __xdump(unsigned int level, const char *function, const char *path, int line, const void *data,
             unsigned int length);

#ifdef __cplusplus
}
#endif

#endif /* ORVEL_H */
