/* The timestamp layouts a log line may begin with, one row per writer, and their reading. */
#include "plugin_logs/plugin_logs.h"
#include "shape_parts.h"

#include <string.h>

/* A layout is a pattern, one code per element; any other byte stands for itself:
 *   Y  year, 4 digits          y  year, 2 digits (20yy)
 *   M  month, 2 digits         m  month, 1 or 2 digits        b  month name (Jan)
 *   D  day, 2 digits           d  day, 1 or 2 digits          e  day, 2 digits or space-padded
 *   H  hour 0-23, 2 digits     h  hour 1-12, 1 or 2 digits (with p)
 *   I  minute, 2 digits        S  second, 2 digits (60 for a leap second)
 *   a  weekday name (Mon)      p  " AM" or " PM"
 *   T  'T' or a space          J  a space or '-'
 *   F  a fraction if one is there: '.' or ',' and any number of digits
 *   Z  a zone if one is there: 'Z', +hh:mm or +hhmm, the two also after one space
 * The first row that matches wins: en-US, which needs its AM or PM, comes before en-GB. */
struct TsLayout {
	const char *writer;
	const char *pattern;
	int32_t kind;
};

static const TsLayout ts_layouts[] = {
	{"ISO 8601, RFC 3339: log4j, logback, NLog, Serilog, Python, .NET, CBS, DISM, IIS", "Y-M-DTH:I:SFZ", TS_FIELDS},
	{"WindowsUpdate.log, nginx error log", "Y/M/D H:I:SF", TS_FIELDS},
	{"log4j yy/MM/dd", "y/M/D H:I:SF", TS_FIELDS},
	{"Tomcat, catalina.out", "D-b-Y H:I:SF", TS_FIELDS},
	{"compact yyyyMMdd HH:mm:ss", "YMDJH:I:SF", TS_FIELDS},
	{"compact yyyyMMdd HHmmss", "YMDJHISF", TS_FIELDS},
	{"compact yyMMdd HH:mm:ss", "yMDJH:I:SF", TS_FIELDS},
	{"compact yyMMdd HHmmss", "yMDJHISF", TS_FIELDS},
	{"Android logcat threadtime", "M-D H:I:SF", TS_FIELDS},
	{".NET en-US", "m/d/Y h:I:Sp", TS_FIELDS},
	{".NET en-GB, fr-FR", "D/M/Y H:I:S", TS_FIELDS},
	{".NET de-DE, ru-RU", "D.M.Y H:I:S", TS_FIELDS},
	{"BSD syslog", "b e H:I:S", TS_SYSLOG},
	{"ctime, Apache error log", "a b e H:I:SF Y", TS_FIELDS},
	{"java.util.logging SimpleFormatter", "b d, Y h:I:Sp", TS_FIELDS},
};

/* What may enclose a timestamp; the text after the opener must be one of the layouts. */
struct TsOpener {
	const char *writer;
	const char *open;
	const char *close;
};

static const TsOpener ts_openers[] = {
	{"Apache error log, PHP, scripts", "[", "]"},
	{"logfmt (logrus)", "time=\"", "\""},
	{"logfmt", "time=", ""},
	{"logfmt (go-kit)", "ts=", ""},
	{"most logs", "", ""},
};

static const char month_names[12][4] = {"jan", "feb", "mar", "apr", "may", "jun",
					  "jul", "aug", "sep", "oct", "nov", "dec"};
static const char day_names[7][4] = {"mon", "tue", "wed", "thu", "fri", "sat", "sun"};

static unsigned at(const unsigned char *c, size_t len, size_t i)
{
	return i < len ? c[i] : 0;
}

static int is_digit(unsigned c)
{
	return c - '0' < 10;
}

static unsigned fold(unsigned c)
{
	return c - 'A' < 26 ? c + ('a' - 'A') : c;
}

/* The 1-based index of the three-letter name at c[i..) in names, or 0. */
static int32_t name_at(const unsigned char *c, size_t len, size_t i, const char (*names)[4], int32_t count)
{
	if (i + 3 > len)
		return 0;
	unsigned a = fold(c[i]), b = fold(c[i + 1]), d = fold(c[i + 2]);
	for (int32_t k = 0; k < count; k++) {
		if (names[k][0] == (char)a && names[k][1] == (char)b && names[k][2] == (char)d)
			return k + 1;
	}
	return 0;
}

/* Reads one or two digits at c[*i..) (exactly two when fixed), within lo..hi. */
static int number_at(const unsigned char *c, size_t len, size_t *i, int fixed, int32_t lo, int32_t hi, int32_t *v)
{
	unsigned d0 = at(c, len, *i);
	if (!is_digit(d0))
		return 0;
	unsigned d1 = at(c, len, *i + 1);
	int32_t n = (int32_t)(d0 - '0');
	if (is_digit(d1)) {
		n = n * 10 + (int32_t)(d1 - '0');
		*i += 2;
	} else {
		if (fixed)
			return 0;
		*i += 1;
	}
	*v = n;
	return n >= lo && n <= hi;
}

/* A zone offset at c[*i..): hh:mm or hhmm after its sign. */
static int zone_at(const unsigned char *c, size_t len, size_t *i)
{
	size_t k = *i;
	unsigned s = at(c, len, k);
	int32_t hh, mm;
	if (s != '+' && s != '-')
		return 0;
	k++;
	if (!number_at(c, len, &k, 1, 0, 23, &hh))
		return 0;
	if (at(c, len, k) == ':')
		k++;
	if (!number_at(c, len, &k, 1, 0, 59, &mm))
		return 0;
	*i = k;
	return 1;
}

/* Matches pattern at c[0..len). Returns the length of the timestamp, or 0; f gets its fields. */
static size_t match_layout(const char *pattern, const unsigned char *c, size_t len, TsFields *f)
{
	size_t i = 0;
	int32_t v = 0;
	int32_t pm = -1;
	for (const char *p = pattern; *p != '\0'; p++) {
		switch (*p) {
		case 'Y':
			if (i + 4 > len || !is_digit(c[i]) || !is_digit(c[i + 1]) || !is_digit(c[i + 2]) || !is_digit(c[i + 3]))
				return 0;
			f->year = (int32_t)(c[i] - '0') * 1000 + (int32_t)(c[i + 1] - '0') * 100 +
				  (int32_t)(c[i + 2] - '0') * 10 + (int32_t)(c[i + 3] - '0');
			i += 4;
			break;
		case 'y':
			if (!number_at(c, len, &i, 1, 0, 99, &v))
				return 0;
			f->year = 2000 + v;
			break;
		case 'M':
		case 'm':
			if (!number_at(c, len, &i, *p == 'M', 1, 12, &f->month))
				return 0;
			break;
		case 'b':
			if ((f->month = name_at(c, len, i, month_names, 12)) == 0)
				return 0;
			i += 3;
			break;
		case 'a':
			if (name_at(c, len, i, day_names, 7) == 0)
				return 0;
			i += 3;
			break;
		case 'e':
			/* Syslog and ctime pad a one-digit day with a space. */
			if (at(c, len, i) == ' ')
				i++;
			/* fall through */
		case 'd':
		case 'D':
			if (!number_at(c, len, &i, *p == 'D', 1, 31, &f->day))
				return 0;
			break;
		case 'H':
			if (!number_at(c, len, &i, 1, 0, 23, &f->hour))
				return 0;
			break;
		case 'h':
			if (!number_at(c, len, &i, 0, 1, 12, &f->hour))
				return 0;
			pm = 0;
			break;
		case 'I':
			if (!number_at(c, len, &i, 1, 0, 59, &f->minute))
				return 0;
			break;
		case 'S':
			if (!number_at(c, len, &i, 1, 0, 60, &f->second))
				return 0;
			break;
		case 'p': {
			unsigned a = fold(at(c, len, i + 1));
			if (at(c, len, i) != ' ' || (a != 'a' && a != 'p') || fold(at(c, len, i + 2)) != 'm')
				return 0;
			pm = a == 'p';
			i += 3;
			break;
		}
		case 'T':
			if (at(c, len, i) != 'T' && at(c, len, i) != ' ')
				return 0;
			i++;
			break;
		case 'J':
			if (at(c, len, i) != ' ' && at(c, len, i) != '-')
				return 0;
			i++;
			break;
		case 'F':
			/* A comma with no digit after it is CBS's separator, not a fraction. */
			if ((at(c, len, i) == '.' || at(c, len, i) == ',') && is_digit(at(c, len, i + 1))) {
				i += 2;
				while (i < len && is_digit(c[i]))
					i++;
			}
			break;
		case 'Z': {
			unsigned z = at(c, len, i);
			if (z == 'Z') {
				i++;
			} else if (z == '+' || z == '-') {
				if (!zone_at(c, len, &i))
					return 0;
			} else if (z == ' ') {
				/* Serilog's "zzz" after a space; a blank and anything else stays text. */
				size_t k = i + 1;
				if (zone_at(c, len, &k))
					i = k;
			}
			break;
		}
		default:
			if (at(c, len, i) != (unsigned char)*p)
				return 0;
			i++;
			break;
		}
	}
	if (pm >= 0)
		f->hour = f->hour % 12 + (pm ? 12 : 0);
	return i;
}

/* The first layout that matches at c[0..len): its length (0 when none) and row. */
static size_t match_any_layout(const unsigned char *c, size_t len, TsFields *f, const TsLayout **row)
{
	/* Every layout begins with a digit or a name: other lines are not looked at further. */
	int digit = is_digit(at(c, len, 0));
	if (!digit && fold(at(c, len, 0)) - 'a' >= 26)
		return 0;
	for (const TsLayout *l = ts_layouts; l < ts_layouts + sizeof(ts_layouts) / sizeof(ts_layouts[0]); l++) {
		int named = l->pattern[0] == 'a' || l->pattern[0] == 'b';
		if (named == digit)
			continue;
		f->year = 0;
		size_t n = match_layout(l->pattern, c, len, f);
		if (n != 0) {
			*row = l;
			return n;
		}
	}
	return 0;
}

/* 1 when the byte after a bare timestamp ends it: a letter or digit there would make it part of
 * a longer word, and a line such as «2024-01-15T10:30:00.123é» is not one. */
static int ends_ts(unsigned c)
{
	return c == 0 || c == ' ' || c == '\t' || c == ',' || c == '|' || c == ';';
}

int find_ts(const char *line, size_t len, TsMatch *m)
{
	const unsigned char *c = (const unsigned char *)line;
	for (const TsOpener *o = ts_openers; o < ts_openers + sizeof(ts_openers) / sizeof(ts_openers[0]); o++) {
		size_t open_len = strlen(o->open);
		if (open_len > len || memcmp(line, o->open, open_len) != 0)
			continue;
		TsFields f;
		const TsLayout *row = NULL;
		size_t n = match_any_layout(c + open_len, len - open_len, &f, &row);
		if (n == 0 || n > SHAPE_TS_MAX)
			continue;
		size_t end = open_len + n;
		size_t close_len = strlen(o->close);
		if (close_len != 0) {
			if (end + close_len > len || memcmp(line + end, o->close, close_len) != 0)
				continue;
		} else if (!ends_ts(at(c, len, end))) {
			continue;
		}
		/* Syslog's host and program follow only a bare timestamp. */
		m->kind = open_len == 0 ? row->kind : TS_FIELDS;
		m->at = open_len;
		m->len = n;
		m->end = end + close_len;
		return 1;
	}
	return 0;
}

int ts_fields(const char *ts, size_t len, TsFields *f)
{
	TsFields got;
	const TsLayout *row = NULL;
	if (match_any_layout((const unsigned char *)ts, len, &got, &row) != len || len == 0)
		return 0;
	*f = got;
	return 1;
}
