/* Log lines that are one JSON object (Serilog compact, pino, bunyan, zap): fields read by key. */
#include "plugin_logs/plugin_logs.h"
#include "shape_parts.h"

#include <string.h>

enum {
	JSON_MEMBERS_MAX = 64, /* members looked up for a template's holes; later ones are not */
	HOLE_NAME_MAX = 64,
	/* The scratch: the time, then the unit, then the text. */
	SCRATCH_TS_AT = 0,
	SCRATCH_TS_SIZE = 48,
	SCRATCH_UNIT_AT = SCRATCH_TS_AT + SCRATCH_TS_SIZE,
	SCRATCH_UNIT_SIZE = 208,
	SCRATCH_TEXT_AT = SCRATCH_UNIT_AT + SCRATCH_UNIT_SIZE,
	SCRATCH_TEXT_SIZE = SHAPE_SCRATCH_SIZE - SCRATCH_TEXT_AT,
};

/* What a key is read for. */
enum { ROLE_TIME, ROLE_LEVEL, ROLE_TEXT, ROLE_TEMPLATE, ROLE_UNIT, ROLE_COUNT };

struct JsonKey {
	const char *writer;
	const char *key;
	int32_t role;
};

/* Earlier rows of a role win over later ones, whatever their order in the line. */
static const JsonKey json_keys[] = {
	{"Serilog compact", "@t", ROLE_TIME},
	{"zap, pino, bunyan", "time", ROLE_TIME},
	{"common", "timestamp", ROLE_TIME},
	{"zap", "ts", ROLE_TIME},
	{"Elastic (ECS), Logstash", "@timestamp", ROLE_TIME},
	{"Serilog compact", "@l", ROLE_LEVEL},
	{"pino, bunyan, zap", "level", ROLE_LEVEL},
	{"Google Cloud", "severity", ROLE_LEVEL},
	{"logfmt as JSON", "lvl", ROLE_LEVEL},
	{"Serilog compact", "@m", ROLE_TEXT},
	{"common", "message", ROLE_TEXT},
	{"pino, bunyan, zap", "msg", ROLE_TEXT},
	{"Serilog compact", "@mt", ROLE_TEMPLATE},
	{"Serilog", "SourceContext", ROLE_UNIT},
	{"zap, log4j JSON", "logger", ROLE_UNIT},
	{"bunyan, pino child", "name", ROLE_UNIT},
};

struct JsonSpan {
	const char *at;
	size_t len;
};

/* One member of the object: its key's bytes and its value as written (strings with quotes). */
struct JsonMember {
	JsonSpan key;
	JsonSpan value;
};

struct JsonObject {
	JsonMember members[JSON_MEMBERS_MAX];
	int32_t count;
	int32_t role_rank[ROLE_COUNT]; /* the row in json_keys that filled the role, or -1 */
	JsonSpan role_value[ROLE_COUNT];
};

/* A bounded output that only ever takes whole characters. */
struct Out {
	char *buf;
	size_t len, room;
	int full;
};

static int is_ws(unsigned char c)
{
	return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

static size_t skip_ws(const char *c, size_t len, size_t i)
{
	while (i < len && is_ws((unsigned char)c[i]))
		i++;
	return i;
}

/* The index just after the string that opens at c[i] (a quote), or 0 when it does not end. */
static size_t skip_string(const char *c, size_t len, size_t i)
{
	for (i++; i < len; i++) {
		if (c[i] == '\\')
			i++;
		else if (c[i] == '"')
			return i + 1;
	}
	return 0;
}

/* The index just after the value at c[i], or 0 when there is none. Nested objects and arrays
 * are skipped by their depth, their inside checked only as far as strings go. */
static size_t skip_value(const char *c, size_t len, size_t i)
{
	if (i >= len)
		return 0;
	if (c[i] == '"')
		return skip_string(c, len, i);
	if (c[i] == '{' || c[i] == '[') {
		size_t depth = 0;
		while (i < len) {
			char b = c[i];
			if (b == '"') {
				if ((i = skip_string(c, len, i)) == 0)
					return 0;
				continue;
			}
			if (b == '{' || b == '[')
				depth++;
			else if ((b == '}' || b == ']') && --depth == 0)
				return i + 1;
			i++;
		}
		return 0;
	}
	size_t a = i;
	while (i < len && c[i] != ',' && c[i] != '}' && c[i] != ']' && !is_ws((unsigned char)c[i]))
		i++;
	char first = c[a];
	if (i == a || !((first >= '0' && first <= '9') || first == '-' || first == 't' || first == 'f' || first == 'n'))
		return 0;
	return i;
}

static void note_role(JsonObject *o, const JsonMember *m)
{
	for (size_t k = 0; k < sizeof(json_keys) / sizeof(json_keys[0]); k++) {
		const char *key = json_keys[k].key;
		if (strlen(key) != m->key.len || memcmp(key, m->key.at, m->key.len) != 0)
			continue;
		int32_t role = json_keys[k].role;
		if (o->role_rank[role] < 0 || o->role_rank[role] > (int32_t)k) {
			o->role_rank[role] = (int32_t)k;
			o->role_value[role] = m->value;
		}
		return;
	}
}

/* Reads line[0..len) as one object and nothing but blanks around it. Returns 1 when it is. */
static int read_object(JsonObject *o, const char *c, size_t len)
{
	o->count = 0;
	for (int32_t r = 0; r < ROLE_COUNT; r++)
		o->role_rank[r] = -1;
	size_t i = skip_ws(c, len, 0);
	if (i >= len || c[i] != '{')
		return 0;
	i = skip_ws(c, len, i + 1);
	if (i < len && c[i] == '}') {
		i++;
	} else {
		for (;;) {
			JsonMember m;
			if (i >= len || c[i] != '"')
				return 0;
			size_t key_end = skip_string(c, len, i);
			if (key_end == 0)
				return 0;
			m.key.at = c + i + 1;
			m.key.len = key_end - i - 2;
			i = skip_ws(c, len, key_end);
			if (i >= len || c[i] != ':')
				return 0;
			i = skip_ws(c, len, i + 1);
			size_t value_end = skip_value(c, len, i);
			if (value_end == 0)
				return 0;
			m.value.at = c + i;
			m.value.len = value_end - i;
			note_role(o, &m);
			if (o->count < JSON_MEMBERS_MAX)
				o->members[o->count++] = m;
			i = skip_ws(c, len, value_end);
			if (i < len && c[i] == ',') {
				i = skip_ws(c, len, i + 1);
				continue;
			}
			if (i < len && c[i] == '}') {
				i++;
				break;
			}
			return 0;
		}
	}
	return skip_ws(c, len, i) == len;
}

static void out_put(Out *o, const char *s, size_t n)
{
	if (o->full || n > o->room - o->len) {
		o->full = 1;
		return;
	}
	memcpy(o->buf + o->len, s, n);
	o->len += n;
}

static void out_code_point(Out *o, uint32_t cp)
{
	char ch[4];
	out_put(o, ch, utf8_put(cp, ch));
}

/* Copies raw bytes as valid UTF-8, each invalid sequence one U+FFFD, as far as they fit. */
static void out_raw(Out *o, const char *s, size_t n)
{
	size_t i = 0;
	while (i < n && !o->full) {
		size_t run = utf8_valid_len(s + i, n - i);
		size_t room = o->room - o->len;
		if (run > room) {
			out_put(o, s + i, utf8_cut(s + i, room));
			o->full = 1;
			return;
		}
		out_put(o, s + i, run);
		i += run;
		if (i < n) {
			out_put(o, UTF8_REPLACEMENT, 3);
			i += (size_t)-utf8_seq(s + i, n - i);
		}
	}
}

static int hex_value(char h)
{
	if (h >= '0' && h <= '9')
		return h - '0';
	h = (char)(h | 0x20);
	return h >= 'a' && h <= 'f' ? h - 'a' + 10 : -1;
}

/* The code unit of the \uXXXX escape at s[i..n), or -1. */
static int32_t unit_escape(const char *s, size_t n, size_t i)
{
	if (i + 6 > n || s[i] != '\\' || s[i + 1] != 'u')
		return -1;
	int32_t v = 0;
	for (size_t k = i + 2; k < i + 6; k++) {
		int h = hex_value(s[k]);
		if (h < 0)
			return -1;
		v = v * 16 + h;
	}
	return v;
}

/* Decodes the escape at s[*i..n) (a backslash) into o; one that is not valid is U+FFFD. */
static void decode_escape(Out *o, const char *s, size_t n, size_t *i)
{
	static const char simple[] = "\"\"\\\\//b\bf\fn\nr\rt\t";
	if (*i + 1 >= n) {
		out_put(o, UTF8_REPLACEMENT, 3);
		*i = n;
		return;
	}
	char e = s[*i + 1];
	for (size_t k = 0; k + 1 < sizeof(simple); k += 2) {
		if (simple[k] == e) {
			out_put(o, simple + k + 1, 1);
			*i += 2;
			return;
		}
	}
	int32_t u = unit_escape(s, n, *i);
	if (u < 0) {
		out_put(o, UTF8_REPLACEMENT, 3);
		*i += 2;
		return;
	}
	*i += 6;
	if (u >= 0xD800 && u <= 0xDBFF) {
		int32_t low = unit_escape(s, n, *i);
		if (low >= 0xDC00 && low <= 0xDFFF) {
			*i += 6;
			out_code_point(o, 0x10000 + (((uint32_t)u - 0xD800) << 10) + ((uint32_t)low - 0xDC00));
			return;
		}
		u = 0xFFFD;
	} else if ((u >= 0xDC00 && u <= 0xDFFF) || u == 0) {
		/* A NUL would end the entry's text where it is stored. */
		u = 0xFFFD;
	}
	out_code_point(o, (uint32_t)u);
}

/* Decodes a string's body, between its quotes, into o. */
static void out_string_body(Out *o, const char *s, size_t n)
{
	size_t i = 0;
	while (i < n && !o->full) {
		const char *slash = (const char *)memchr(s + i, '\\', n - i);
		size_t j = slash != NULL ? (size_t)(slash - s) : n;
		out_raw(o, s + i, j - i);
		i = j;
		if (i < n && !o->full)
			decode_escape(o, s, n, &i);
	}
}

/* A value as a text: a string decoded without its quotes, anything else as written. */
static void out_value(Out *o, JsonSpan v)
{
	if (v.len >= 2 && v.at[0] == '"')
		out_string_body(o, v.at + 1, v.len - 2);
	else
		out_raw(o, v.at, v.len);
}

static const JsonMember *find_member(const JsonObject *obj, const char *name, size_t n)
{
	for (int32_t k = 0; k < obj->count; k++) {
		const JsonMember *m = &obj->members[k];
		if (m->key.len == n && memcmp(m->key.at, name, n) == 0)
			return m;
	}
	return NULL;
}

/* The property name of a message template hole «{Name}», «{@Name}», «{$Name,10:fmt}», or 0. */
static size_t hole_name(const char *h, size_t n, size_t *name_at)
{
	size_t i = 0;
	if (i < n && (h[i] == '@' || h[i] == '$'))
		i++;
	size_t a = i;
	while (i < n && ((unsigned)(h[i] | 0x20) - 'a' < 26 || (h[i] >= '0' && h[i] <= '9') || h[i] == '_'))
		i++;
	if (i == a || (i < n && h[i] != ',' && h[i] != ':'))
		return 0;
	*name_at = a;
	return i - a;
}

/* Writes Serilog's message template t[0..n) (a JSON string body) with its holes filled. */
static void out_template(Out *o, const JsonObject *obj, const char *t, size_t n)
{
	/* The template decoded first, so its braces are found whatever escapes it used. */
	char plain_buf[SCRATCH_TEXT_SIZE / 2];
	Out plain = {plain_buf, 0, sizeof(plain_buf), 0};
	out_string_body(&plain, t, n);
	const char *p = plain_buf;
	size_t len = plain.len;
	size_t i = 0;
	while (i < len && !o->full) {
		if ((p[i] == '{' || p[i] == '}') && i + 1 < len && p[i + 1] == p[i]) {
			out_put(o, p + i, 1);
			i += 2;
			continue;
		}
		if (p[i] == '{') {
			const char *close = (const char *)memchr(p + i + 1, '}', len - i - 1);
			size_t name_at = 0;
			size_t name_len = 0;
			if (close != NULL && (size_t)(close - (p + i + 1)) <= HOLE_NAME_MAX)
				name_len = hole_name(p + i + 1, (size_t)(close - (p + i + 1)), &name_at);
			const JsonMember *m = name_len != 0 ? find_member(obj, p + i + 1 + name_at, name_len) : NULL;
			if (m != NULL) {
				out_value(o, m->value);
				i = (size_t)(close - p) + 1;
				continue;
			}
		}
		/* Up to the next brace, as it is. */
		size_t j = i + 1;
		while (j < len && p[j] != '{' && p[j] != '}')
			j++;
		out_raw(o, p + i, j - i);
		i = j;
	}
}

/* Days since 1970-01-01 to the civil date (proleptic Gregorian). */
static void civil_from_days(int64_t z, int32_t *y, int32_t *m, int32_t *d)
{
	z += 719468;
	int64_t era = (z >= 0 ? z : z - 146096) / 146097;
	int64_t doe = z - era * 146097;
	int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
	int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
	int64_t mp = (5 * doy + 2) / 153;
	*d = (int32_t)(doy - (153 * mp + 2) / 5 + 1);
	*m = (int32_t)(mp < 10 ? mp + 3 : mp - 9);
	*y = (int32_t)(yoe + era * 400 + (*m <= 2));
}

static size_t put_digits(char *dst, int32_t v, int width)
{
	for (int k = width - 1; k >= 0; k--) {
		dst[k] = (char)('0' + v % 10);
		v /= 10;
	}
	return (size_t)width;
}

/* Formats an epoch number (pino: milliseconds; zap: seconds with a fraction) as an ISO 8601
 * UTC time into dst (at least 25 bytes). Returns its length, or 0 when the number is not one. */
static size_t epoch_text(const char *v, size_t n, char *dst)
{
	/* Years 1970 to 9999: at most 12 digits of seconds, 15 of milliseconds. */
	enum { EPOCH_DIGITS_MAX = 15 };
	int64_t whole = 0;
	size_t i = 0;
	while (i < n && v[i] >= '0' && v[i] <= '9' && i < EPOCH_DIGITS_MAX)
		whole = whole * 10 + (v[i++] - '0');
	if (i == 0)
		return 0;
	int32_t ms = 0;
	int64_t secs = whole;
	if (i < n && v[i] == '.') {
		size_t k = ++i;
		while (i < n && v[i] >= '0' && v[i] <= '9') {
			if (i - k < 3)
				ms = ms * 10 + (v[i] - '0');
			i++;
		}
		if (i == k)
			return 0;
		for (size_t pad = i - k; pad < 3; pad++)
			ms *= 10;
	} else if (whole >= 100000000000LL) {
		/* Eleven digits of seconds are the year 5138: this many are milliseconds. */
		secs = whole / 1000;
		ms = (int32_t)(whole % 1000);
	}
	if (i != n || secs >= 253402300800LL)
		return 0;
	int32_t y, mo, d;
	civil_from_days(secs / 86400, &y, &mo, &d);
	int32_t sod = (int32_t)(secs % 86400);
	size_t w = put_digits(dst, y, 4);
	dst[w++] = '-';
	w += put_digits(dst + w, mo, 2);
	dst[w++] = '-';
	w += put_digits(dst + w, d, 2);
	dst[w++] = 'T';
	w += put_digits(dst + w, sod / 3600, 2);
	dst[w++] = ':';
	w += put_digits(dst + w, sod / 60 % 60, 2);
	dst[w++] = ':';
	w += put_digits(dst + w, sod % 60, 2);
	dst[w++] = '.';
	w += put_digits(dst + w, ms, 3);
	dst[w++] = 'Z';
	return w;
}

/* The severity a level value names: a level word, or pino's and bunyan's numbers. */
static int32_t level_value(JsonSpan v)
{
	if (v.len >= 2 && v.at[0] == '"') {
		int32_t sev = level_of_word(v.at + 1, v.len - 2);
		return sev < 0 ? (int32_t)SEV_UNCLASSIFIED : sev;
	}
	int32_t n = 0;
	size_t i = 0;
	while (i < v.len && i < 6 && v.at[i] >= '0' && v.at[i] <= '9')
		n = n * 10 + (v.at[i++] - '0');
	if (i == 0 || i != v.len)
		return SEV_UNCLASSIFIED;
	if (n >= 50)
		return SEV_ERR;
	if (n >= 40)
		return SEV_WARN;
	return n >= 10 ? (int32_t)SEV_INFO : (int32_t)SEV_UNCLASSIFIED;
}

int shape_json_line(LineShape *s, const char *line, size_t len, char *scratch)
{
	JsonObject obj;
	if (!read_object(&obj, line, len) || obj.role_rank[ROLE_TIME] < 0)
		return 0;

	char *ts = scratch + SCRATCH_TS_AT;
	JsonSpan t = obj.role_value[ROLE_TIME];
	size_t ts_len = t.at[0] == '"' ? 0 : epoch_text(t.at, t.len, ts);
	if (ts_len == 0) {
		Out o = {ts, 0, SHAPE_TS_MAX, 0};
		out_value(&o, t);
		ts_len = o.len;
	}
	s->ts = ts;
	s->ts_len = ts_len;
	s->has_ts = 1;

	s->unit = scratch + SCRATCH_UNIT_AT;
	s->unit_len = 0;
	if (obj.role_rank[ROLE_UNIT] >= 0) {
		Out o = {scratch + SCRATCH_UNIT_AT, 0, SCRATCH_UNIT_SIZE, 0};
		out_value(&o, obj.role_value[ROLE_UNIT]);
		s->unit_len = o.len;
	}

	if (obj.role_rank[ROLE_LEVEL] >= 0)
		s->sev = level_value(obj.role_value[ROLE_LEVEL]);
	else
		/* Serilog's compact form leaves out the level of Information events. */
		s->sev = strcmp(json_keys[obj.role_rank[ROLE_TIME]].key, "@t") == 0 ? (int32_t)SEV_INFO : (int32_t)SEV_UNCLASSIFIED;

	Out text = {scratch + SCRATCH_TEXT_AT, 0, SCRATCH_TEXT_SIZE, 0};
	JsonSpan m = obj.role_value[ROLE_TEXT];
	if (obj.role_rank[ROLE_TEXT] >= 0) {
		out_value(&text, m);
	} else if (obj.role_rank[ROLE_TEMPLATE] >= 0) {
		JsonSpan tpl = obj.role_value[ROLE_TEMPLATE];
		if (tpl.at[0] == '"')
			out_template(&text, &obj, tpl.at + 1, tpl.len - 2);
		else
			out_raw(&text, tpl.at, tpl.len);
	} else {
		/* Nothing names the message: the whole object is it, so nothing is lost. */
		out_raw(&text, line, len);
	}
	s->text = text.buf;
	s->text_len = text.len;
	return 1;
}
