/* The timestamp layouts a log line may begin with, one row per writer, and their reading. */
#include "plugin_logs/plugin_logs.h"
#include "shape_parts.h"
#include "plugin_logs/words.h"

#include <string.h>

/* A layout is a pattern, one code per element; any other byte stands for itself:
 *   Y  year, 4 digits          y  year, 2 digits (20yy)
 *   M  month, 2 digits         m  month, 1 or 2 digits        b  month name (Jan)
 *   D  day, 2 digits           d  day, 1 or 2 digits          e  day, 2 digits or space and digit
 *   H  hour 0-23, 2 digits     h  hour 1-12, 1 or 2 digits (with p)
 *   I  minute, 2 digits        S  second, 2 digits (60 for a leap second)
 *   a  weekday name (Mon)      p  " AM" or " PM"
 *   T  'T' or a space          J  a space or '-'
 *   F  a fraction if one is there: '.' or ',' and any number of digits
 *   Z  a zone if one is there: 'Z', +hh:mm or +hhmm, the two also after one space
 * The first row that matches wins: en-US, which needs its AM or PM, comes before en-GB.
 * Each pattern's fixed-width start is compiled (below) into masks that test eight bytes at a
 * time; only the rest, from its first element of varying width, is read element by element. */
struct TsLayout {
	const char *writer;
	const char *pattern;
	int32_t kind;
};

static constexpr TsLayout ts_layouts[] = {
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

static constexpr TsOpener ts_openers[] = {
	{"Apache error log, PHP, scripts", "[", "]"},
	{"logfmt (logrus)", "time=\"", "\""},
	{"logfmt", "time=", ""},
	{"logfmt (go-kit)", "ts=", ""},
	{"most logs", "", ""},
};

static constexpr size_t text_len(const char *s)
{
	size_t n = 0;
	while (s[n] != '\0')
		n++;
	return n;
}

enum { TS_OPENERS = sizeof(ts_openers) / sizeof(ts_openers[0]) };

/* The openers' lengths, and for each first byte of a line the openers it may begin (a bare
 * timestamp fits every line). */
struct OpenerIndex {
	size_t open[TS_OPENERS], close[TS_OPENERS];
	uint32_t by_first[256];
};

static constexpr OpenerIndex opener_index()
{
	OpenerIndex n = {};
	for (size_t k = 0; k < TS_OPENERS; k++) {
		n.open[k] = text_len(ts_openers[k].open);
		n.close[k] = text_len(ts_openers[k].close);
		for (unsigned b = 0; b < 256; b++) {
			if (n.open[k] == 0 || (unsigned char)ts_openers[k].open[0] == b)
				n.by_first[b] |= 1u << k;
		}
	}
	return n;
}

static constexpr OpenerIndex opener_len = opener_index();

/* 1 when the NUL-terminated head begins with s[0..n). */
static int begins_with(const char *head, const char *s, size_t n)
{
	for (size_t i = 0; i < n; i++) {
		if (head[i] != s[i])
			return 0;
	}
	return 1;
}

static constexpr char month_names[12][4] = {"jan", "feb", "mar", "apr", "may", "jun",
					  "jul", "aug", "sep", "oct", "nov", "dec"};
static constexpr char day_names[7][4] = {"mon", "tue", "wed", "thu", "fri", "sat", "sun"};

static int is_digit(unsigned c)
{
	return c - '0' < 10;
}

static unsigned fold(unsigned c)
{
	return c - 'A' < 26 ? c + ('a' - 'A') : c;
}

enum { NAME_SLOTS = 32 };

/* Three lower-case letters as one number. */
static constexpr uint32_t name_key(unsigned a, unsigned b, unsigned d)
{
	return a | b << 8 | d << 16;
}

static constexpr uint32_t name_slot(uint32_t key)
{
	return (key * 0x9E3779B1u) >> 27;
}

/* The month and day names by their slot, built when compiling: value 1-12 for a month, 13-19
 * for a day, 0 for an empty slot. */
struct NameSlots {
	uint32_t key[NAME_SLOTS];
	int32_t value[NAME_SLOTS];
};

static constexpr NameSlots name_slots()
{
	NameSlots t = {};
	for (int32_t k = 0; k < 19; k++) {
		const char *n = k < 12 ? month_names[k] : day_names[k - 12];
		uint32_t key = name_key((unsigned char)n[0], (unsigned char)n[1], (unsigned char)n[2]);
		uint32_t slot = name_slot(key);
		while (t.value[slot] != 0)
			slot = (slot + 1) % NAME_SLOTS;
		t.key[slot] = key;
		t.value[slot] = k + 1;
	}
	return t;
}

static constexpr NameSlots names = name_slots();

/* The month (1-12) or the day of the week (13-19) named by the three letters at c, or 0. */
static int32_t name_at(const unsigned char *c)
{
	unsigned a = fold(c[0]);
	if (a - 'a' >= 26)
		return 0;
	unsigned b = fold(c[1]);
	if (b - 'a' >= 26)
		return 0;
	uint32_t key = name_key(a, b, fold(c[2]));
	for (uint32_t k = name_slot(key); names.value[k] != 0; k = (k + 1) % NAME_SLOTS) {
		if (names.key[k] == key)
			return names.value[k];
	}
	return 0;
}

/* Reads two digits at c[*i], or one when !fixed and no second follows, within lo..hi. */
static inline int number_at(const unsigned char *c, size_t *i, int fixed, int32_t lo, int32_t hi, int32_t *v)
{
	unsigned d0 = c[*i] - '0';
	if (d0 > 9)
		return 0;
	unsigned d1 = c[*i + 1] - '0';
	int32_t n;
	if (d1 <= 9) {
		n = (int32_t)(d0 * 10 + d1);
		*i += 2;
	} else {
		if (fixed)
			return 0;
		n = (int32_t)d0;
		*i += 1;
	}
	*v = n;
	return n >= lo && n <= hi;
}

/* A zone offset at c[*i]: hh:mm or hhmm after its sign. */
static int zone_at(const unsigned char *c, size_t *i)
{
	size_t k = *i;
	int32_t hh, mm;
	if (c[k] != '+' && c[k] != '-')
		return 0;
	k++;
	if (!number_at(c, &k, 1, 0, 23, &hh))
		return 0;
	if (c[k] == ':')
		k++;
	if (!number_at(c, &k, 1, 0, 59, &mm))
		return 0;
	*i = k;
	return 1;
}

/* Matches the elements of pattern at c + i, which ends in a NUL (no element takes one).
 * Returns the length of the timestamp from c, or 0; f gets its fields. */
static size_t match_elements(const char *pattern, const unsigned char *c, size_t i, TsFields *f)
{
	int32_t v = 0;
	int32_t pm = -1;
	for (const char *p = pattern; *p != '\0'; p++) {
		switch (*p) {
		case 'Y':
			if (!is_digit(c[i]) || !is_digit(c[i + 1]) || !is_digit(c[i + 2]) || !is_digit(c[i + 3]))
				return 0;
			f->year = (int32_t)(c[i] - '0') * 1000 + (int32_t)(c[i + 1] - '0') * 100 +
				  (int32_t)(c[i + 2] - '0') * 10 + (int32_t)(c[i + 3] - '0');
			i += 4;
			break;
		case 'y':
			if (!number_at(c, &i, 1, 0, 99, &v))
				return 0;
			f->year = 2000 + v;
			break;
		case 'M':
		case 'm':
			if (!number_at(c, &i, *p == 'M', 1, 12, &f->month))
				return 0;
			break;
		case 'b':
			if ((f->month = name_at(c + i)) < 1 || f->month > 12)
				return 0;
			i += 3;
			break;
		case 'a':
			if (name_at(c + i) <= 12)
				return 0;
			i += 3;
			break;
		case 'e':
			/* Syslog and ctime pad a one-digit day with a space. */
			if (c[i] == ' ') {
				if (!is_digit(c[i + 1]) || c[i + 1] == '0')
					return 0;
				f->day = (int32_t)(c[i + 1] - '0');
				i += 2;
				break;
			}
			/* fall through */
		case 'd':
		case 'D':
			if (!number_at(c, &i, *p != 'd', 1, 31, &f->day))
				return 0;
			break;
		case 'H':
			if (!number_at(c, &i, 1, 0, 23, &f->hour))
				return 0;
			break;
		case 'h':
			if (!number_at(c, &i, 0, 1, 12, &f->hour))
				return 0;
			pm = 0;
			break;
		case 'I':
			if (!number_at(c, &i, 1, 0, 59, &f->minute))
				return 0;
			break;
		case 'S':
			if (!number_at(c, &i, 1, 0, 60, &f->second))
				return 0;
			break;
		case 'p':
			if (c[i] != ' ' || (fold(c[i + 1]) != 'a' && fold(c[i + 1]) != 'p') || fold(c[i + 2]) != 'm')
				return 0;
			pm = fold(c[i + 1]) == 'p';
			i += 3;
			break;
		case 'T':
			if (c[i] != 'T' && c[i] != ' ')
				return 0;
			i++;
			break;
		case 'J':
			if (c[i] != ' ' && c[i] != '-')
				return 0;
			i++;
			break;
		case 'F':
			/* A comma with no digit after it is CBS's separator, not a fraction. */
			if ((c[i] == '.' || c[i] == ',') && is_digit(c[i + 1])) {
				i += 2;
				while (is_digit(c[i]))
					i++;
			}
			break;
		case 'Z':
			if (c[i] == 'Z') {
				i++;
			} else if (c[i] == '+' || c[i] == '-') {
				if (!zone_at(c, &i))
					return 0;
			} else if (c[i] == ' ' && (c[i + 1] == '+' || c[i + 1] == '-')) {
				/* Serilog's "zzz" after a space; a blank and anything else stays text. */
				size_t k = i + 1;
				if (zone_at(c, &k))
					i = k;
			}
			break;
		default:
			if (c[i] != (unsigned char)*p)
				return 0;
			i++;
			break;
		}
	}
	if (pm >= 0)
		f->hour = f->hour % 12 + (pm ? 12 : 0);
	return i;
}

enum { PREFIX_WORDS = 4, NOWHERE = 0xFF };

/* A layout's fixed-width start: which bytes must be digits, which are given, and where the
 * elements whose value or letters are read stand in it (NOWHERE when they do not). */
struct TsPrefix {
	uint64_t digit[PREFIX_WORDS];    /* 0x80 in each byte that must be a digit */
	uint64_t lit_mask[PREFIX_WORDS]; /* 0xFF in each byte that is given */
	uint64_t lit[PREFIX_WORDS];
	uint32_t words;                  /* words to test */
	uint32_t len;                    /* bytes of the start */
	uint32_t rest;                   /* index in the pattern of the first element read one by one */
	uint8_t year4, year2, month, month_name, day, day_padded, weekday, hour, minute, second, t_or_space, joiner;
};

struct TsPrefixes {
	TsPrefix row[sizeof(ts_layouts) / sizeof(ts_layouts[0])];
};

static constexpr uint32_t element_width(char p)
{
	switch (p) {
	case 'Y':
		return 4;
	case 'y': case 'M': case 'D': case 'e': case 'H': case 'I': case 'S':
		return 2;
	case 'a': case 'b':
		return 3;
	case 'm': case 'd': case 'h': case 'F': case 'Z': case 'p':
		return 0; /* varies */
	default:
		return 1;
	}
}

static constexpr TsPrefixes compile_prefixes()
{
	TsPrefixes out = {};
	for (size_t k = 0; k < sizeof(ts_layouts) / sizeof(ts_layouts[0]); k++) {
		TsPrefix &x = out.row[k];
		x.year4 = x.year2 = x.month = x.month_name = x.day = x.day_padded = x.weekday = NOWHERE;
		x.hour = x.minute = x.second = x.t_or_space = x.joiner = NOWHERE;
		const char *p = ts_layouts[k].pattern;
		uint32_t at = 0;
		uint32_t j = 0;
		for (; p[j] != '\0'; j++) {
			uint32_t w = element_width(p[j]);
			if (w == 0 || at + w > 8 * PREFIX_WORDS)
				break;
			char code = p[j];
			if (code == 'Y' || code == 'y' || code == 'M' || code == 'D' || code == 'H' || code == 'I' || code == 'S') {
				for (uint32_t b = at; b < at + w; b++)
					x.digit[b / 8] |= 0x80ull << (8 * (b % 8));
			}
			uint8_t here = (uint8_t)at;
			switch (code) {
			case 'Y': x.year4 = here; break;
			case 'y': x.year2 = here; break;
			case 'M': x.month = here; break;
			case 'b': x.month_name = here; break;
			case 'D': x.day = here; break;
			case 'e': x.day_padded = here; break;
			case 'a': x.weekday = here; break;
			case 'H': x.hour = here; break;
			case 'I': x.minute = here; break;
			case 'S': x.second = here; break;
			case 'T': x.t_or_space = here; break;
			case 'J': x.joiner = here; break;
			default:
				x.lit_mask[at / 8] |= 0xFFull << (8 * (at % 8));
				x.lit[at / 8] |= (uint64_t)(unsigned char)code << (8 * (at % 8));
				break;
			}
			at += w;
		}
		x.len = at;
		x.words = (at + 7) / 8;
		x.rest = j;
	}
	return out;
}

static constexpr TsPrefixes ts_prefixes = compile_prefixes();

static int32_t two_digits(const unsigned char *c)
{
	return (int32_t)(c[0] - '0') * 10 + (int32_t)(c[1] - '0');
}

/* Matches layout k at c (a NUL ends it, and at least 8 * PREFIX_WORDS bytes may be read).
 * Returns the length of the timestamp, or 0; f gets its fields. */
static size_t match_layout(size_t k, const unsigned char *c, TsFields *f)
{
	const TsPrefix &x = ts_prefixes.row[k];
	const uint64_t ascii = WORD_ONES * 0x7F;
	for (uint32_t w = 0; w < x.words; w++) {
		uint64_t v = load_word(c + 8 * w);
		/* A byte is a digit when byte ^ '0' is at most 9: neither it nor it + 0x76 reaches
		 * 0x80 (its low seven bits are added alone, so no carry crosses into the next byte). */
		uint64_t y = v ^ (WORD_ONES * '0');
		if ((v & x.lit_mask[w]) != x.lit[w] || (((y & ascii) + WORD_ONES * 0x76) | y) & x.digit[w])
			return 0;
	}
	/* Each element of the start, where the layout has it; the digits are known to be digits. */
	if (x.year4 != NOWHERE)
		f->year = two_digits(c + x.year4) * 100 + two_digits(c + x.year4 + 2);
	if (x.year2 != NOWHERE)
		f->year = 2000 + two_digits(c + x.year2);
	if (x.month != NOWHERE && ((f->month = two_digits(c + x.month)) < 1 || f->month > 12))
		return 0;
	if (x.month_name != NOWHERE && ((f->month = name_at(c + x.month_name)) < 1 || f->month > 12))
		return 0;
	if (x.weekday != NOWHERE && name_at(c + x.weekday) <= 12)
		return 0;
	if (x.day != NOWHERE && ((f->day = two_digits(c + x.day)) < 1 || f->day > 31))
		return 0;
	if (x.day_padded != NOWHERE) {
		/* Syslog and ctime pad a one-digit day with a space. */
		const unsigned char *e = c + x.day_padded;
		int32_t v = 0;
		if (e[0] == ' ')
			v = is_digit(e[1]) ? (int32_t)(e[1] - '0') : 0;
		else if (is_digit(e[0]) && is_digit(e[1]))
			v = two_digits(e);
		if (v < 1 || v > 31)
			return 0;
		f->day = v;
	}
	if (x.hour != NOWHERE && (f->hour = two_digits(c + x.hour)) > 23)
		return 0;
	if (x.minute != NOWHERE && (f->minute = two_digits(c + x.minute)) > 59)
		return 0;
	if (x.second != NOWHERE && (f->second = two_digits(c + x.second)) > 60)
		return 0;
	if (x.t_or_space != NOWHERE && c[x.t_or_space] != 'T' && c[x.t_or_space] != ' ')
		return 0;
	if (x.joiner != NOWHERE && c[x.joiner] != ' ' && c[x.joiner] != '-')
		return 0;
	const char *rest = ts_layouts[k].pattern + x.rest;
	return *rest == '\0' ? x.len : match_elements(rest, c, x.len, f);
}

enum { TS_LAYOUTS = sizeof(ts_layouts) / sizeof(ts_layouts[0]) };
static_assert(TS_LAYOUTS <= 32, "the rows are picked from a 32-bit mask");

/* The rows whose first element fits each first byte: a digit or a letter of a name. */
struct TsRowMasks {
	uint32_t by_first[256];
};

static constexpr TsRowMasks ts_row_masks()
{
	TsRowMasks m = {};
	for (uint32_t k = 0; k < TS_LAYOUTS; k++) {
		char p = ts_layouts[k].pattern[0];
		int named = p == 'a' || p == 'b';
		for (unsigned b = 0; b < 256; b++) {
			int fits = named ? (b | 0x20) - 'a' < 26 : b - '0' < 10;
			if (fits)
				m.by_first[b] |= 1u << k;
		}
	}
	return m;
}

static constexpr TsRowMasks ts_masks = ts_row_masks();

/* The first layout that matches at c, which ends in a NUL: its length (0 when none) and row. */
static size_t match_any_layout(const unsigned char *c, TsFields *f, const TsLayout **row)
{
	for (uint32_t rows = ts_masks.by_first[c[0]]; rows != 0; rows &= rows - 1) {
		size_t k = (size_t)__builtin_ctz(rows);
		f->year = 0;
		size_t n = match_layout(k, c, f);
		if (n != 0) {
			*row = &ts_layouts[k];
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

int find_ts(const char *head, TsMatch *m)
{
	const unsigned char *c = (const unsigned char *)head;
	for (uint32_t openers = opener_len.by_first[c[0]]; openers != 0; openers &= openers - 1) {
		size_t k = (size_t)__builtin_ctz(openers);
		const TsOpener *o = &ts_openers[k];
		size_t open_len = opener_len.open[k];
		/* A NUL ends the head, so no opener is compared past it. */
		if (!begins_with(head, o->open, open_len))
			continue;
		TsFields f;
		const TsLayout *row = NULL;
		size_t n = match_any_layout(c + open_len, &f, &row);
		if (n == 0 || n > SHAPE_TS_MAX)
			continue;
		size_t end = open_len + n;
		size_t close_len = opener_len.close[k];
		if (close_len != 0 ? !begins_with(head + end, o->close, close_len) : !ends_ts(c[end]))
			continue;
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
	/* Terminated, with room for the words the layouts' starts are tested in. */
	unsigned char c[SHAPE_TS_MAX + HEAD_PAD] = {0};
	if (len == 0 || len > SHAPE_TS_MAX || memchr(ts, '\0', len) != NULL)
		return 0;
	memcpy(c, ts, len);
	TsFields got;
	const TsLayout *row = NULL;
	if (match_any_layout(c, &got, &row) != len)
		return 0;
	*f = got;
	return 1;
}
