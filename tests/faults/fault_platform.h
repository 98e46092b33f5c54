/* Test-only fault injection around the POSIX platform layer: a file changes under the reader
 * at a chosen moment after the catalogue has listed it. */
#ifndef PL_FAULT_PLATFORM_H
#define PL_FAULT_PLATFORM_H

enum FaultAction {
	FAULT_NONE = 0,
	FAULT_DELETE,     /* the file is removed */
	FAULT_TRUNCATE,   /* cut to zero bytes */
	FAULT_SHRINK,     /* cut to a few bytes, in the middle of a line */
	FAULT_REPLACE,    /* renamed over by a different, shorter file (rotation) */
	FAULT_GROW,       /* replaced by a file far larger than listed */
	FAULT_DIRECTORY,  /* replaced by a folder of the same name */
	FAULT_DENY,       /* opening fails with "permission denied" */
	FAULT_APPEND,     /* lines appended in place */
	FAULT_LINK_OUT    /* replaced by a link to a file outside the data folder */
};

enum FaultMoment {
	AT_READER_INFO = 0, /* before the reader's own look at the file */
	AT_OPEN,            /* after that look, before the open */
	AFTER_OPEN,         /* after the open, before the first read */
	AFTER_SIZE          /* after the open file's size is taken (a download's Content-Length) */
};

/* The file outside the data folder that FAULT_LINK_OUT links to, and its one line. */
#define FAULT_SECRET_NAME "secret.log"
#define FAULT_SECRET_TEXT "only the web server may read this"

/* Arms one fault for path; it fires once at the moment given. */
void fault_arm(const char *path, FaultAction action, FaultMoment moment);

#endif
