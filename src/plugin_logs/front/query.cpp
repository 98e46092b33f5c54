/* Reading one parameter out of the raw CGI query string. */
#include "plugin_logs/plugin_logs.h"

#include <string.h>

static int hex_value(unsigned char c)
{
	if (c >= '0' && c <= '9')
		return c - '0';
	if (c >= 'a' && c <= 'f')
		return c - 'a' + 10;
	if (c >= 'A' && c <= 'F')
		return c - 'A' + 10;
	return -1;
}

/* Decodes dst in place; the result is never longer than the input. */
static void url_decode_in_place(char *dst)
{
	char *r = dst;
	char *w = dst;
	while (*r != '\0') {
		if (r[0] == '%') {
			int hi = hex_value((unsigned char)r[1]);
			int lo = hi < 0 ? -1 : hex_value((unsigned char)r[2]);
			if (hi >= 0 && lo >= 0) {
				*w++ = (char)(hi * 16 + lo);
				r += 3;
				continue;
			}
			*w++ = '%';
			r++;
			continue;
		}
		*w++ = r[0] == '+' ? ' ' : r[0];
		r++;
	}
	*w = '\0';
}

int get_query_val(const char *qs, const char *key, char *dst, size_t dst_size)
{
	size_t key_len = strlen(key);
	dst[0] = '\0';
	if (qs == NULL || key_len == 0 || qs[0] == '\0')
		return 0;
	const char *seg = qs;
	for (;;) {
		const char *amp = strchr(seg, '&');
		const char *end = amp != NULL ? amp : seg + strlen(seg);
		const char *eq = (const char *)memchr(seg, '=', (size_t)(end - seg));
		if (eq != NULL && (size_t)(eq - seg) == key_len && memcmp(seg, key, key_len) == 0) {
			/* Cut before decoding, so an escape split by the cut stays literal. */
			size_t raw_len = (size_t)(end - (eq + 1));
			if (raw_len > dst_size - 1)
				raw_len = dst_size - 1;
			memcpy(dst, eq + 1, raw_len);
			dst[raw_len] = '\0';
			url_decode_in_place(dst);
			return 1;
		}
		if (amp == NULL)
			return 0;
		seg = amp + 1;
	}
}
