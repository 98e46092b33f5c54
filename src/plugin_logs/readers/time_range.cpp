/* Time ranges: the since and until values, an entry's timestamp against them, the event query. */
#include "plugin_logs/plugin_logs.h"
#include "platform.h"
#include "shape_parts.h"

#include <string.h>

/* The accepted forms, one code per character: 9 a digit, any other byte itself. */
static const char FORM_MINUTES[] = "9999-99-99T99:99";
static const char FORM_SECONDS[] = "9999-99-99T99:99:99";

static int is_leap(int32_t y)
{
	return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
}

static int32_t days_in_month(int32_t y, int32_t m)
{
	static const int32_t days[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
	return m == 2 && is_leap(y) ? 29 : days[m - 1];
}

static int32_t digits(const char *s, int n)
{
	int32_t v = 0;
	for (int i = 0; i < n; i++)
		v = v * 10 + (s[i] - '0');
	return v;
}

static int fits_form(const char *text, size_t len, const char *form)
{
	if (len != strlen(form))
		return 0;
	for (size_t i = 0; i < len; i++) {
		if (form[i] == '9' ? !(text[i] >= '0' && text[i] <= '9') : text[i] != form[i])
			return 0;
	}
	return 1;
}

/* YYYYMMDDhhmmss: decimal places keep the order of the fields. */
static int64_t fields_key(int64_t year, const TsFields *f)
{
	return ((((year * 100 + f->month) * 100 + f->day) * 100 + f->hour) * 100 + f->minute) * 100 + f->second;
}

/* Reads one value; empty leaves the bound not given. Returns 0 when it is not a real moment. */
static int bound_parse(TimeBound *b, const char *text, int is_until)
{
	memset(b, 0, sizeof(*b));
	size_t len = strlen(text);
	if (len == 0)
		return 1;
	b->has_seconds = fits_form(text, len, FORM_SECONDS);
	if (!b->has_seconds && !fits_form(text, len, FORM_MINUTES))
		return 0;
	TsFields *f = &b->at;
	f->year = digits(text, 4);
	f->month = digits(text + 5, 2);
	f->day = digits(text + 8, 2);
	f->hour = digits(text + 11, 2);
	f->minute = digits(text + 14, 2);
	f->second = b->has_seconds ? digits(text + 17, 2) : 0;
	if (f->month < 1 || f->month > 12 || f->day < 1 || f->day > days_in_month(f->year, f->month) ||
	    f->hour > 23 || f->minute > 59 || f->second > 59)
		return 0;
	/* Inclusive at the precision given: until 10:05 takes all of that minute. Timestamps are
	 * compared to the second, so a fraction within it is inside too. */
	b->given = 1;
	b->key = fields_key(f->year, f);
	if (is_until && !b->has_seconds) {
		f->second = 59;
		b->key += 60; /* a leap second, 60, is that minute's too */
	}
	memcpy(b->text, text, len + 1);
	return 1;
}

const char *time_range_parse(TimeRange *r, const char *since, const char *until)
{
	memset(r, 0, sizeof(*r));
	if (!bound_parse(&r->since, since, 0))
		return "since";
	if (!bound_parse(&r->until, until, 1))
		return "until";
	return NULL;
}

int time_range_active(const TimeRange *r)
{
	return r != NULL && (r->since.given || r->until.given);
}

/* Days since 1970-01-01 of a civil date (proleptic Gregorian), and back. */
static int64_t days_from_civil(int64_t y, int32_t m, int32_t d)
{
	y -= m <= 2;
	int64_t era = (y >= 0 ? y : y - 399) / 400;
	int64_t yoe = y - era * 400;
	int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
	int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
	return era * 146097 + doe - 719468;
}

/* The UTC fields of t seconds since 1970; year in *year. */
static void fields_of_seconds(int64_t t, int64_t *year, TsFields *f)
{
	int64_t days = t >= 0 ? t / 86400 : -((-t + 86399) / 86400);
	int64_t secs = t - days * 86400;
	int64_t z = days + 719468;
	int64_t era = (z >= 0 ? z : z - 146096) / 146097;
	int64_t doe = z - era * 146097;
	int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
	int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
	int64_t mp = (5 * doy + 2) / 153;
	f->day = (int32_t)(doy - (153 * mp + 2) / 5 + 1);
	f->month = (int32_t)(mp < 10 ? mp + 3 : mp - 9);
	*year = yoe + era * 400 + (f->month <= 2);
	f->hour = (int32_t)(secs / 3600);
	f->minute = (int32_t)(secs / 60 % 60);
	f->second = (int32_t)(secs % 60);
	f->year = 0;
}

static int64_t seconds_of_fields(int64_t year, const TsFields *f)
{
	return days_from_civil(year, f->month, f->day) * 86400 + f->hour * 3600 + f->minute * 60 + f->second;
}

/* The UTC moment of a local date and time; the fields as UTC when the system has no answer
 * (a year before its calendar begins). */
static int64_t local_to_utc(int64_t year, const TsFields *f)
{
	int64_t utc;
	if (year >= 0 && year <= 9999 &&
	    plat_local_to_utc((int32_t)year, f->month, f->day, f->hour, f->minute, f->second, &utc))
		return utc;
	return seconds_of_fields(year, f);
}

void time_range_set_file_time(TimeRange *r, int64_t mtime)
{
	/* The local fields of mtime: the zone's offset is what local_to_utc does to the UTC
	 * fields of that moment. */
	int64_t year;
	TsFields f;
	fields_of_seconds(mtime, &year, &f);
	int64_t offset = local_to_utc(year, &f) - mtime;
	fields_of_seconds(mtime - offset, &year, &f);
	r->ref_year = (int32_t)year;
	r->ref_rest = fields_key(0, &f);
}

int64_t time_range_key(const TimeRange *r, const char *ts, size_t len)
{
	TsFields f;
	if (len == 0 || !ts_fields(ts, len, &f))
		return -1;
	if (f.year != 0)
		return fields_key(f.year, &f);
	/* Syslog and logcat leave out the year: the one that puts the entry last at or before the
	 * file's modification. */
	int64_t year = r->ref_year;
	if (year == 0)
		return -1;
	return fields_key(fields_key(0, &f) <= r->ref_rest ? year : year - 1, &f);
}

int64_t time_range_line_key(const TimeRange *r, const char *line, size_t len, char *scratch)
{
	size_t first = 0;
	while (first < len && (line[first] == ' ' || line[first] == '\t'))
		first++;
	if (first < len && line[first] == '{') {
		/* A JSON line's time may be any of its members: the whole shaping finds it. */
		LineShape s;
		shape_log_line(&s, line, len, scratch);
		return s.has_ts ? time_range_key(r, s.ts, s.ts_len) : -1;
	}
	/* Only the timestamp: the level and logger after it are not read. */
	char head[HEAD_SIZE];
	size_t head_len = len < (size_t)HEAD_MAX ? len : (size_t)HEAD_MAX;
	memcpy(head, line, head_len);
	memset(head + head_len, 0, HEAD_PAD);
	TsMatch m;
	return find_ts(head, &m) ? time_range_key(r, line + m.at, m.len) : -1;
}

int time_range_holds(const TimeRange *r, int64_t key)
{
	return (!r->since.given || key >= r->since.key) && (!r->until.given || key <= r->until.key);
}

/* One bound as SystemTime writes it: UTC to the millisecond. */
static int utc_text(const TimeBound *b, const char *millis, char *dst, size_t dst_size)
{
	int64_t year;
	TsFields f;
	fields_of_seconds(local_to_utc(b->at.year, &b->at), &year, &f);
	/* A moment past the four-digit years would not be read as one: the nearest that is. */
	if (year < 0)
		return fmt_into(dst, dst_size, "0000-01-01T00:00:00.000Z");
	if (year > 9999)
		return fmt_into(dst, dst_size, "9999-12-31T23:59:59.999Z");
	return fmt_into(dst, dst_size, "%04d-%02d-%02dT%02d:%02d:%02d.%sZ", (int)year, (int)f.month, (int)f.day,
			(int)f.hour, (int)f.minute, (int)f.second, millis);
}

int event_time_query(const TimeRange *r, char *dst, size_t dst_size)
{
	char since[32], until[32];
	dst[0] = '\0';
	if (!time_range_active(r))
		return 0;
	if (r->since.given)
		utc_text(&r->since, "000", since, sizeof(since));
	if (r->until.given)
		utc_text(&r->until, "999", until, sizeof(until));
	int ok;
	if (r->since.given && r->until.given)
		ok = fmt_into(dst, dst_size, "*[System[TimeCreated[@SystemTime>='%s' and @SystemTime<='%s']]]", since,
			      until);
	else if (r->since.given)
		ok = fmt_into(dst, dst_size, "*[System[TimeCreated[@SystemTime>='%s']]]", since);
	else
		ok = fmt_into(dst, dst_size, "*[System[TimeCreated[@SystemTime<='%s']]]", until);
	if (!ok)
		dst[0] = '\0';
	return ok;
}
