/* Where a time range begins and ends in a log file: bisection on the lines' timestamps, reading
 * a few small blocks at each probe, so a range in the middle of a large log costs about what
 * its end does. */
#include "plugin_logs/plugin_logs.h"
#include "platform.h"

#include <string.h>

enum {
	PROBE_BLOCK = 8192,
	/* The head of a line a probe shapes, as the reader's longest chunk. */
	PROBE_LINE_MAX = 2047,
	/* How far a probe looks for a timestamped line: past it the stretch is the continuation
	 * lines of one entry (a stack trace, a dump), and a probe goes on into it only on the
	 * reserve that all of one search share, so that a log without timestamps is not read
	 * whole. */
	PROBE_BUDGET = 65536,
	PROBE_RESERVE = 4194304,
	/* Below this the bisection gives way to reading the lines in order. */
	LINEAR_SPAN = PROBE_BLOCK
};

struct Prober {
	FILE *f;
	int64_t size;
	const TimeRange *r;
	int failed;
	int64_t reserve; /* bytes probes may still read past their budget */
	int64_t at;     /* block holds the file's bytes [at, at + len) */
	size_t len;
	char block[PROBE_BLOCK];
	char scratch[SHAPE_SCRATCH_SIZE];
};

/* What a probe found. */
enum { PROBE_NONE = 0, PROBE_FOUND = 1, PROBE_OUT_OF_REACH = 2 };

/* Makes the block hold pos and, where the file has them, want bytes after it. Returns the bytes
 * it holds from pos on; 0 at the end of the file or on a read error (failed set). */
static size_t hold(Prober *p, int64_t pos, size_t want)
{
	int64_t end = p->at + (int64_t)p->len;
	if (pos >= p->at && pos < end && (pos + (int64_t)want <= end || end >= p->size))
		return (size_t)(end - pos);
	if (pos >= p->size)
		return 0;
	size_t n = p->size - pos < PROBE_BLOCK ? (size_t)(p->size - pos) : (size_t)PROBE_BLOCK;
	if (plat_seek(p->f, pos) != 0 || fread(p->block, 1, n, p->f) != n) {
		p->failed = 1;
		p->len = 0;
		return 0;
	}
	p->at = pos;
	p->len = n;
	return n;
}

enum { NOT_IN_REACH = -2 };

/* The start of the first line that begins at or after pos and before limit: -1 when none does,
 * NOT_IN_REACH when the search got to stop first. */
static int64_t next_line_start(Prober *p, int64_t pos, int64_t limit, int64_t stop)
{
	if (pos == 0)
		return 0;
	for (int64_t q = pos - 1; q < limit - 1;) {
		if (q >= stop)
			return NOT_IN_REACH;
		size_t n = hold(p, q, 1);
		if (n == 0)
			return -1;
		const char *from = p->block + (q - p->at);
		const char *lf = (const char *)memchr(from, '\n', n);
		if (lf != NULL)
			return q + (lf - from) + 1 < limit ? q + (lf - from) + 1 : -1;
		q += (int64_t)n;
	}
	return -1;
}

/* The key of the line that begins at pos, or -1 when it has no timestamp r can read; *lf_at
 * gets where its line feed is, or -1 past what was looked at. */
static int64_t line_key(Prober *p, int64_t pos, int64_t *lf_at)
{
	*lf_at = -1;
	size_t n = hold(p, pos, PROBE_LINE_MAX);
	if (n == 0)
		return -1;
	const char *line = p->block + (pos - p->at);
	size_t take = n < PROBE_LINE_MAX ? n : (size_t)PROBE_LINE_MAX;
	const char *lf = (const char *)memchr(line, '\n', take);
	size_t len = lf != NULL ? (size_t)(lf - line) : take;
	*lf_at = lf != NULL ? pos + (int64_t)len : -1;
	return time_range_line_key(p->r, line, len, p->scratch);
}

/* The first line with a timestamp r can read that begins at or after pos and before limit:
 * its start and key. PROBE_OUT_OF_REACH when the budget bytes from pos hold none. */
static int probe(Prober *p, int64_t pos, int64_t limit, int64_t budget, int64_t *start, int64_t *key)
{
	int64_t stop = pos + budget;
	pos = next_line_start(p, pos, limit, stop);
	while (pos >= 0 && pos < limit && !p->failed) {
		if (pos >= stop)
			return PROBE_OUT_OF_REACH;
		int64_t lf_at;
		int64_t k = line_key(p, pos, &lf_at);
		if (k >= 0) {
			*start = pos;
			*key = k;
			return PROBE_FOUND;
		}
		pos = lf_at >= 0 ? lf_at + 1 : next_line_start(p, pos + PROBE_LINE_MAX, limit, stop);
	}
	return pos == NOT_IN_REACH ? PROBE_OUT_OF_REACH : PROBE_NONE;
}

/* The start of the first timestamped line whose key is target or more, as the lines lie in
 * order; the file's size when none is. */
static int64_t first_at_least(Prober *p, int64_t target)
{
	int64_t a = 0, limit = p->size, found = p->size;
	int64_t s, k;
	/* The answer lies in [a, limit), or is found. */
	while (limit - a > LINEAR_SPAN && !p->failed) {
		int64_t m = a + (limit - a) / 2;
		int got = probe(p, m, limit, PROBE_BUDGET, &s, &k);
		if (got == PROBE_OUT_OF_REACH && p->reserve > 0) {
			/* A long stretch without timestamps: the first line after it decides. */
			int64_t from = m + PROBE_BUDGET;
			got = probe(p, from, limit, p->reserve, &s, &k);
			p->reserve -= got == PROBE_FOUND ? s - from : got == PROBE_NONE ? limit - from : p->reserve;
		}
		/* Out of reach even so: the stretch is taken for one that lies after the answer. */
		if (got != PROBE_FOUND)
			limit = m; /* nothing timestamped from m on: the answer is before it, or found */
		else if (k >= target)
			found = limit = s;
		else
			a = s + 1;
	}
	while (!p->failed && probe(p, a, limit, PROBE_BUDGET, &s, &k) == PROBE_FOUND) {
		if (k >= target)
			return s;
		a = s + 1;
	}
	return found;
}

int log_range_bounds(FILE *f, int64_t size, const TimeRange *r, int64_t *lo, int64_t *hi)
{
	static_assert(LINEAR_SPAN <= PROBE_BUDGET, "the last stretch is read by one probe's budget");
	Prober probe_state;
	Prober *p = &probe_state;
	p->f = f;
	p->size = size;
	p->r = r;
	p->failed = 0;
	p->reserve = PROBE_RESERVE;
	p->at = 0;
	p->len = 0;
	*lo = 0;
	*hi = size;
	if (r->since.given)
		*lo = first_at_least(p, r->since.key);
	/* Keys count whole seconds: after until is from the next one on. */
	if (r->until.given)
		*hi = first_at_least(p, r->until.key + 1);
	int ok = !p->failed;
	if (!ok) {
		*lo = 0;
		*hi = size;
	}
	return ok;
}
