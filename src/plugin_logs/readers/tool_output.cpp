/* A command's output to UTF-8: UTF-16LE decoded as it streams in, anything else passed as bytes. */
#include "plugin_logs/plugin_logs.h"

#include <string.h>

enum { FORM_UNDECIDED = 0, FORM_BYTES = 1, FORM_UTF16 = 2 };

static const uint32_t REPLACEMENT = 0xFFFD;

void output_decoder_init(OutputDecoder *d)
{
	memset(d, 0, sizeof(*d));
}

static int is_high(uint16_t u)
{
	return u >= 0xD800 && u <= 0xDBFF;
}

static int is_low(uint16_t u)
{
	return u >= 0xDC00 && u <= 0xDFFF;
}

/* One code unit: a high surrogate waits for the unit after it, which must be its low half. */
static size_t put_unit(OutputDecoder *d, uint16_t u, char *dst)
{
	size_t n = 0;
	if (d->high != 0) {
		uint16_t high = d->high;
		d->high = 0;
		if (is_low(u))
			return utf8_put(0x10000 + ((uint32_t)(high - 0xD800) << 10) + (uint32_t)(u - 0xDC00), dst);
		n = utf8_put(REPLACEMENT, dst);
	}
	if (is_high(u)) {
		d->high = u;
		return n;
	}
	return n + utf8_put(is_low(u) ? REPLACEMENT : u, dst + n);
}

size_t output_decode(OutputDecoder *d, const char *in, size_t in_len, char *dst)
{
	const unsigned char *b = (const unsigned char *)in;
	size_t i = 0;
	size_t n = 0;
	if (d->form == FORM_UNDECIDED) {
		/* The first two bytes tell: wevtutil's /uni:true output, with or without a mark,
		 * begins with an ASCII character, whose high byte is NUL. */
		if (in_len == 0)
			return 0;
		if (d->held_count == 0) {
			d->held = b[i++];
			d->held_count = 1;
			if (i == in_len)
				return 0;
		}
		unsigned char b1 = b[i++];
		d->held_count = 0;
		if (d->held == 0xFF && b1 == 0xFE) {
			d->form = FORM_UTF16;
		} else if (b1 == 0) {
			d->form = FORM_UTF16;
			n = put_unit(d, d->held, dst);
		} else {
			d->form = FORM_BYTES;
			dst[n++] = (char)d->held;
			dst[n++] = (char)b1;
		}
	}
	if (d->form == FORM_BYTES) {
		memcpy(dst + n, b + i, in_len - i);
		return n + (in_len - i);
	}
	if (d->held_count == 1 && i < in_len) {
		n += put_unit(d, (uint16_t)(d->held | (b[i++] << 8)), dst + n);
		d->held_count = 0;
	}
	for (; i + 1 < in_len; i += 2)
		n += put_unit(d, (uint16_t)(b[i] | (b[i + 1] << 8)), dst + n);
	if (i < in_len) {
		d->held = b[i];
		d->held_count = 1;
	}
	return n;
}

size_t output_decode_end(OutputDecoder *d, char *dst)
{
	size_t n = 0;
	if (d->form == FORM_UNDECIDED && d->held_count == 1) {
		dst[n++] = (char)d->held; /* a single byte of output is not UTF-16 */
	} else if (d->form == FORM_UTF16) {
		if (d->high != 0)
			n += utf8_put(REPLACEMENT, dst + n);
		if (d->held_count == 1)
			n += utf8_put(REPLACEMENT, dst + n);
	}
	output_decoder_init(d);
	return n;
}
