/* The operating-system services the program needs; one implementation file per platform. */
#ifndef PLUGIN_LOGS_PLATFORM_H
#define PLUGIN_LOGS_PLATFORM_H

#include <stddef.h>
#include <stdint.h>
#include <stdio.h>

/* Makes standard output carry bytes unchanged (no LF to CR LF translation). */
void plat_stdout_binary(void);

/* "windows" or "linux": the platform the info document reports. */
const char *plat_name(void);

/* The separator the walk uses to join paths: '\\' on Windows, '/' elsewhere. */
char plat_sep(void);

/* Formats the current time as "%Y-%m-%dT%H:%M:%SZ" in UTC (local time if UTC fails).
 * Leaves dst empty when neither conversion works. */
void plat_utc_text(char *dst, size_t dst_size);

/* The UTC moment, in seconds since 1970, of a date and time (month 1-12) on the node's local
 * clock, by its time zone's rules. Returns 1, or 0 when the system cannot convert it. */
int plat_local_to_utc(int32_t year, int32_t month, int32_t day, int32_t hour, int32_t minute, int32_t second,
		      int64_t *utc);

/* Copies the value of the environment variable name into dst, as UTF-8. Returns 1 when it is
 * defined (dst holds the value, which may be empty), 0 when it is not (dst empty), and -1 when
 * it is defined but cannot be given: longer than dst_size-1 bytes, or (Windows) holding an
 * unpaired surrogate, which no UTF-8 text can carry (dst empty). */
int plat_getenv(const char *name, char *dst, size_t dst_size);

/* A buffer of this size holds any value either platform passes: Linux takes 128 KiB for one
 * variable, name included; Windows 32767 UTF-16 units, at most 3 bytes each in UTF-8. */
enum { PLAT_ENV_VALUE_SIZE = 131072 };

/* A name of up to 259 UTF-16 units (Windows) in UTF-8, at most 3 bytes a unit; Linux names
 * have at most 255 bytes. */
enum { PLAT_NAME_SIZE = 3 * 259 + 1 };

struct PlatDirEntry {
	char name[PLAT_NAME_SIZE];
	int is_dir;       /* a directory, or a link or junction to one */
	int name_ok;      /* name is the entry's own name in UTF-8: Linux names that are not UTF-8
			   * and Windows names with an unpaired surrogate are not, and cannot be
			   * opened through any path a document can hold */
};

/* An open directory listing; fields are the platform's own. */
struct PlatDir {
	void *handle;
	int pending;      /* Windows: the first entry is already in `first` */
	PlatDirEntry first;
};

/* Opens the listing of dir. Returns 1, or 0 when it cannot be listed. */
int plat_dir_open(PlatDir *d, const char *dir);
/* Fetches the next entry ("." and ".." included). Returns 1, or 0 at the end. */
int plat_dir_next(PlatDir *d, PlatDirEntry *out);
void plat_dir_close(PlatDir *d);

struct PlatFileInfo {
	int is_dir;
	int64_t size;
	int64_t mtime; /* last modification, seconds since 1970-01-01 UTC */
};

/* Queries path (links followed). Returns 1 for a directory or a regular file with its full
 * 64-bit size and its modification time, or 0 when it cannot be queried or is anything else
 * (a FIFO or a device would block or never end a read). */
int plat_file_info(const char *path, PlatFileInfo *out);

/* The final path of path, every link, junction, "." and ".." resolved, in the form later file
 * calls take literally (Windows: \\?\X:\... or \\?\UNC\..., so a listed name is never
 * normalised again). Returns 1, or 0 (dst empty) when path cannot be opened or the result does
 * not fit. */
int plat_real_path(const char *path, char *dst, size_t dst_size);

/* Queries path as plat_file_info does, and returns 1 only when its final path lies inside root
 * (a final path): real then holds that final path, for the calls that go below it. path is a
 * name joined to a folder that lies inside root. POSIX resolves only a link, which lstat tells
 * reliably; Windows resolves every entry on the handle it queries, the attributes and the path
 * then describing one file (and Wine marks no link to a file as a reparse point). */
int plat_file_within(const char *path, const char *root, PlatFileInfo *out, char *real, size_t real_size);

/* 1 when path is root or lies below it on a component boundary, both as plat_real_path gives
 * them; Windows ignores letter case and compares the \\?\ forms as their plain ones. */
int plat_path_within(const char *root, const char *path);

/* Opens a log for binary reading without stopping its writer from appending, renaming or
 * deleting it, as an unbuffered stream: it is read in large blocks. Where root variables are
 * defined, a path under a root is opened below that root's final path, names taken literally,
 * and the opened file must lie inside one of the roots (log_roots_allow); a link that leads
 * out is refused. Returns null on failure or refusal. */
FILE *plat_log_open(const char *path);

/* The size of an open log now. Returns 1, or 0 when it cannot be had. */
int plat_log_size(FILE *f, int64_t *size);

/* What tells one file from every other on the machine, and its size, as the open stream shows
 * them: Windows gives the volume serial number and the file index, POSIX the device and inode. */
struct PlatFileId {
	uint64_t volume;
	uint64_t index;
	int64_t size;
};

/* Fills id for the file f has open. Returns 1, or 0 when the system cannot say. */
int plat_file_id(FILE *f, PlatFileId *id);

/* The text of a log line as valid UTF-8: src itself when src[0..*len) already is, otherwise
 * dst holding it converted and *len its new length. Windows decodes such a line from the ANSI
 * code page, in which its programs write narrow text; POSIX has no such page and replaces each
 * invalid sequence with U+FFFD. dst_size of 3 * *len + 1 always suffices; a smaller one cuts
 * at a character boundary. */
const char *plat_text_to_utf8(const char *src, size_t *len, char *dst, size_t dst_size);

/* Positions f at an absolute 64-bit offset. Returns 0 on success. */
int plat_seek(FILE *f, int64_t offset);

/* A started program whose standard output the caller reads; the fields are the platform's own. */
struct PlatProc {
	void *process;       /* Windows: the process */
	void *job;           /* Windows: the job that holds it and all it starts, or null */
	void *out;           /* Windows: the read end of its output pipe (overlapped) */
	void *ready;         /* Windows: the event a pending read signals */
	int pid;             /* POSIX: its id, which is also its process group's */
	int out_fd;          /* POSIX: the read end of its output pipe */
	int64_t deadline_ms; /* on the platform's monotonic clock */
};

enum { PLAT_PROC_ARGS_MAX = 16, PLAT_PROC_TIMED_OUT = -2 };

/* Starts the system tool `tool` with args[0 .. argc) after its name, directly, never through a
 * command interpreter: on Windows <system folder>\<tool>.exe (no search of the current folder
 * or PATH), elsewhere <tool> found on PATH. Its standard output is a pipe, its standard input
 * and error the null device. Reads and the wait give up limit_ms after the start. Returns 1,
 * or 0 when it cannot be started (p then holds nothing to end). */
int plat_proc_start(PlatProc *p, const char *tool, const char *const *args, int argc, int32_t limit_ms);
/* Reads at most dst_size bytes of its output. Returns how many (more than 0), 0 at the end of
 * the output, PLAT_PROC_TIMED_OUT when the time limit passes first, -1 on a read error. */
int32_t plat_proc_read(PlatProc *p, char *dst, size_t dst_size);
/* Waits, within the time limit, for it to exit, then ends whatever it left running and
 * releases it. Returns 1 with *status its exit status (POSIX: 128 + the signal that killed
 * it), or 0 when the time limit passed and it was ended. */
int plat_proc_wait(PlatProc *p, uint32_t *status);
/* Ends it and everything it started at once, without waiting for its output, and releases it. */
void plat_proc_kill(PlatProc *p);

#endif
