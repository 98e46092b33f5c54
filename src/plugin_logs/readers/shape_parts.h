/* The pieces the line recogniser is made of, shared by the readers' files that hold them. */
#ifndef PLUGIN_LOGS_SHAPE_PARTS_H
#define PLUGIN_LOGS_SHAPE_PARTS_H

#include "plugin_logs/plugin_logs.h"

/* How the rest of a line is read once its timestamp is known. */
enum { TS_FIELDS = 0, TS_SYSLOG = 1 };

/* Where a timestamp was found at the start of a line. */
struct TsMatch {
	size_t at, len; /* the timestamp as written: line[at .. at+len) */
	size_t end;     /* just after it and its closing bracket or quote */
	int32_t kind;   /* TS_FIELDS or TS_SYSLOG */
};

/* The start of a line that the layouts are read from: its first HEAD_MAX bytes (fewer when the
 * line is shorter), then HEAD_PAD NUL bytes, so elements need no bound check and a timestamp's
 * start may be tested in whole words. A NUL in the line ends every element there. */
enum { HEAD_MAX = 256, HEAD_PAD = 40, HEAD_SIZE = HEAD_MAX + HEAD_PAD };

/* ts_layouts.cpp */
/* Returns 1 and fills m when head (terminated as above) begins with a recognised timestamp,
 * bare or in its brackets, at most SHAPE_TS_MAX bytes; else 0 and m is not written. */
int find_ts(const char *head, TsMatch *m);

/* level_fields.cpp */
/* The severity a level word names (ASCII letters in any case), or -1 when w[0..n) is none. */
int32_t level_of_word(const char *w, size_t n);
/* Reads the level field (and the logger or component, where the layout has one) that a layout
 * puts at head[at..]: just after the timestamp when after_ts, else at the line's start. Returns
 * the severity, or SEV_UNCLASSIFIED when no layout's level field is there; *unit_at and
 * *unit_len receive the logger's offset and length, or are left alone. */
int32_t read_level_field(const char *head, size_t at, int after_ts, size_t *unit_at, size_t *unit_len);

/* json_line.cpp */
/* Returns 1 and fills s when line[0..len) is one JSON object with a time key (values decoded
 * into scratch, SHAPE_SCRATCH_SIZE bytes); else 0 and s is not written. */
int shape_json_line(LineShape *s, const char *line, size_t len, char *scratch);

#endif
