/* A strict JSON checker (RFC 8259 grammar, UTF-8 text) for the fuzz targets. */
#ifndef PL_FUZZ_JSON_CHECK_H
#define PL_FUZZ_JSON_CHECK_H

#include <stddef.h>

struct JsonCursor {
	const unsigned char *p;
	const unsigned char *end;
	int depth;
	int raw_bytes; /* 1: bytes >= 0x80 pass unchecked (log text is copied as it was) */
};

static int json_value(JsonCursor *c);

static void json_ws(JsonCursor *c)
{
	while (c->p < c->end && (*c->p == ' ' || *c->p == '\t' || *c->p == '\n' || *c->p == '\r'))
		c->p++;
}

/* One UTF-8 sequence, shortest form, no surrogates, at most U+10FFFF. */
static int json_utf8(JsonCursor *c)
{
	unsigned char b = *c->p;
	int n;
	unsigned min;
	unsigned cp;
	if (b < 0x80 || c->raw_bytes)
		return c->p++, 1;
	if (b >= 0xC2 && b <= 0xDF)
		n = 1, min = 0x80, cp = b & 0x1F;
	else if (b >= 0xE0 && b <= 0xEF)
		n = 2, min = 0x800, cp = b & 0x0F;
	else if (b >= 0xF0 && b <= 0xF4)
		n = 3, min = 0x10000, cp = b & 0x07;
	else
		return 0;
	if (c->end - c->p <= n)
		return 0;
	for (int i = 1; i <= n; i++) {
		if ((c->p[i] & 0xC0) != 0x80)
			return 0;
		cp = cp << 6 | (c->p[i] & 0x3F);
	}
	if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
		return 0;
	c->p += n + 1;
	return 1;
}

static int json_hex(unsigned char h)
{
	return (h >= '0' && h <= '9') || (h >= 'a' && h <= 'f') || (h >= 'A' && h <= 'F');
}

static int json_string(JsonCursor *c)
{
	if (c->p >= c->end || *c->p != '"')
		return 0;
	c->p++;
	while (c->p < c->end) {
		unsigned char b = *c->p;
		if (b == '"')
			return c->p++, 1;
		if (b < 0x20)
			return 0;
		if (b == '\\') {
			if (c->end - c->p < 2)
				return 0;
			unsigned char e = c->p[1];
			if (e == 'u') {
				if (c->end - c->p < 6)
					return 0;
				for (int i = 2; i < 6; i++)
					if (!json_hex(c->p[i]))
						return 0;
				c->p += 6;
			} else if (e == '"' || e == '\\' || e == '/' || e == 'b' || e == 'f' || e == 'n' ||
				   e == 'r' || e == 't') {
				c->p += 2;
			} else {
				return 0;
			}
			continue;
		}
		if (!json_utf8(c))
			return 0;
	}
	return 0;
}

static int json_digits(JsonCursor *c)
{
	const unsigned char *start = c->p;
	while (c->p < c->end && *c->p >= '0' && *c->p <= '9')
		c->p++;
	return c->p > start;
}

static int json_number(JsonCursor *c)
{
	if (c->p < c->end && *c->p == '-')
		c->p++;
	if (c->p < c->end && *c->p == '0')
		c->p++;
	else if (!json_digits(c))
		return 0;
	if (c->p < c->end && *c->p == '.') {
		c->p++;
		if (!json_digits(c))
			return 0;
	}
	if (c->p < c->end && (*c->p == 'e' || *c->p == 'E')) {
		c->p++;
		if (c->p < c->end && (*c->p == '+' || *c->p == '-'))
			c->p++;
		if (!json_digits(c))
			return 0;
	}
	return 1;
}

static int json_word(JsonCursor *c, const char *w)
{
	for (; *w != '\0'; w++, c->p++)
		if (c->p >= c->end || *c->p != (unsigned char)*w)
			return 0;
	return 1;
}

static int json_container(JsonCursor *c, unsigned char close, int keyed)
{
	if (++c->depth > 64)
		return 0;
	c->p++;
	json_ws(c);
	if (c->p < c->end && *c->p == close)
		return c->p++, c->depth--, 1;
	for (;;) {
		json_ws(c);
		if (keyed) {
			if (!json_string(c))
				return 0;
			json_ws(c);
			if (c->p >= c->end || *c->p != ':')
				return 0;
			c->p++;
		}
		if (!json_value(c))
			return 0;
		json_ws(c);
		if (c->p >= c->end)
			return 0;
		if (*c->p == close)
			return c->p++, c->depth--, 1;
		if (*c->p != ',')
			return 0;
		c->p++;
	}
}

static int json_value(JsonCursor *c)
{
	json_ws(c);
	if (c->p >= c->end)
		return 0;
	switch (*c->p) {
	case '{': return json_container(c, '}', 1);
	case '[': return json_container(c, ']', 0);
	case '"': return json_string(c);
	case 't': return json_word(c, "true");
	case 'f': return json_word(c, "false");
	case 'n': return json_word(c, "null");
	default: return json_number(c);
	}
}

/* 1 when data[0..len) is exactly one JSON value with optional white space around it. */
[[maybe_unused]] static int json_valid(const char *data, size_t len, int raw_bytes)
{
	JsonCursor c = {(const unsigned char *)data, (const unsigned char *)data + len, 0, raw_bytes};
	if (!json_value(&c))
		return 0;
	json_ws(&c);
	return c.p == c.end;
}

/* 1 when the bytes are valid UTF-8 (same rules as in strings). */
[[maybe_unused]] static int utf8_valid(const char *data, size_t len)
{
	JsonCursor c = {(const unsigned char *)data, (const unsigned char *)data + len, 0, 0};
	while (c.p < c.end)
		if (!json_utf8(&c))
			return 0;
	return 1;
}

#endif
