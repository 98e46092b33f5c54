/* since and until of any bytes, and the bisection over a log of any bytes: an accepted value is
 * a real moment in one of the two forms; the ends found are line starts within the file, each
 * the start of a timestamped line on the right side of its bound, or the file's end. */
#include "plugin_logs/plugin_logs.h"

#include <stdlib.h>
#include <string.h>

/* The key of the line that begins at off in data, or -1. */
static int64_t key_at(const TimeRange *r, const char *data, size_t size, size_t off, char *scratch)
{
	const char *lf = (const char *)memchr(data + off, '\n', size - off);
	size_t len = lf != NULL ? (size_t)(lf - (data + off)) : size - off;
	return time_range_line_key(r, data + off, len < 2047 ? len : 2047, scratch);
}

static void check_bound(const TimeRange *r, const char *data, size_t size, int64_t at, int64_t target, int at_least,
			char *scratch)
{
	if (at < 0 || (size_t)at > size)
		abort();
	if ((size_t)at == size)
		return;
	if (at > 0 && data[at - 1] != '\n')
		abort();
	int64_t key = key_at(r, data, size, (size_t)at, scratch);
	if (key < 0 || (at_least ? key < target : key > target))
		abort();
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
	if (size < 2)
		return 0;
	/* The first byte: how long the value is; the value is both since and until (until taken a
	 * minute or a second on, as its precision says); the rest is the log. */
	size_t n = data[0] % 24;
	if (1 + n > size)
		return 0;
	char value[32];
	memcpy(value, data + 1, n);
	value[n] = '\0';
	TimeRange r;
	const char *bad = time_range_parse(&r, value, value);
	if (bad != NULL) {
		if (strcmp(bad, "since") != 0)
			abort();
		return 0;
	}
	size_t len = strlen(value);
	if (len != 0 && !((len == 16 || len == 19) && value[10] == 'T' && r.since.given && r.until.key >= r.since.key))
		abort();
	const char *log = (const char *)data + 1 + n;
	size_t log_size = size - 1 - n;
	FILE *f = tmpfile();
	if (f == NULL)
		return 0;
	fwrite(log, 1, log_size, f);
	fflush(f);
	time_range_set_file_time(&r, 1704283200);
	int64_t lo, hi;
	char *scratch = (char *)malloc(SHAPE_SCRATCH_SIZE);
	if (log_range_bounds(f, (int64_t)log_size, &r, &lo, &hi)) {
		if (r.since.given)
			check_bound(&r, log, log_size, lo, r.since.key, 1, scratch);
		else if (lo != 0)
			abort();
		if (r.until.given)
			check_bound(&r, log, log_size, hi, r.until.key + 1, 1, scratch);
		else if (hi != (int64_t)log_size)
			abort();
	}
	free(scratch);
	fclose(f);
	return 0;
}
