/*
 * orvel - process-wide trace (logging) library.
 *
 * One global trace state: a level filter, an option word choosing the parts
 * of a line, an output (file, descriptor or custom writer), colours, a tag,
 * call-depth indentation and size/age based rotation of a log file.
 *
 * Levels: ERR 4, WARN 5, NOTICE 6, INFO 7, DEBUG 8 (default), FULL 9.
 * A line is written when its level is at or below the current level.
 *
 * Limits: a log path holds at most 255 characters (longer paths are refused,
 * see __settracefile). Nothing in this library ends the host process.
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
#define ORVEL_OPT_DATE        0x1u     /* "[dd/mm/yy" date part */
#define ORVEL_OPT_TIME        0x2u     /* "hh:mm:ss" time part */
#define ORVEL_OPT_LEVEL       0x4u     /* level part */
#define ORVEL_OPT_LEVEL_NAME  0x8u     /* level as short name, else "[n]" */
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
/* Sets writer, descriptor and hook (any may be null); closes nothing. */
void __settracer(orvel_writer_fn writer, int fd, orvel_hook_fn hook);
/* Sets the tag; the pointer is kept, the caller keeps the text alive. */
void __settracetag(const char *tag);
/* Sets a level's console colour (negative = none); unknown level: default colour. */
void __settracecolor(unsigned int level, int colour);
/* Opens (appends to) a log file; on failure prints "Can't open log file" to stderr and leaves no file output. */
void __settracefile(const char *path);
/* Closes the log file, then writes to this descriptor (0 or less: no output). */
void __settracefd(int fd);
/* Closes the log file (descriptors that are not regular files stay open); no output afterwards. */
void __closetracefile(void);
/* Rotates the log file once it reaches this many bytes (0 = never). */
void __setrotatesize(unsigned int bytes);
/* Rotates the log file once it is older than this many seconds (0 = never). */
void __setrotateinterval(unsigned int seconds);
/* Number of rotated copies kept ("path.1" is the newest). */
void __setrotatebacklogs(unsigned int count);
/* Sets the call depth; a negative depth switches ORVEL_OPT_DEPTH off. */
void __set_call_depth(int depth);
/* Depth + 1 while ORVEL_OPT_DEPTH is on. */
void __incr_call_depth(void);
/* Depth - 1 while ORVEL_OPT_DEPTH is on; below 0 switches it off. */
void __decr_call_depth(void);
/* printf-style formatting into a new heap text for __trace (null when out of memory). */
char *__tracev(const char *format, ...) __attribute__((format(printf, 1, 2)));
/* Writes one line and frees the message (a text from __tracev; null is dropped). */
void __trace(unsigned int level, const char *function, const char *path, int line, char *message);
/* Formats and writes one line; nothing is formatted when the level is filtered out. */
void __tracef(unsigned int level, const char *function, const char *path, int line, const char *format, ...)
    __attribute__((format(printf, 5, 6)));
/* Writes length bytes of data as 16-byte hex-dump lines (null data writes nothing). */
void __xdump(unsigned int level, const char *function, const char *path, int line, const void *data,
             unsigned int length);

#ifdef __cplusplus
}
#endif

#endif /* ORVEL_H */
