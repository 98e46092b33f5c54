/* UTF-8 and UTF-16 conversions for the Windows border. */
#include "utf16.h"
#include "plugin_logs/plugin_logs.h"

#include <string.h>

static int is_high(uint32_t u)
{
	return u >= 0xD800 && u <= 0xDBFF;
}

static int is_low(uint32_t u)
{
	return u >= 0xDC00 && u <= 0xDFFF;
}

size_t utf16_to_utf8(const uint16_t *src, size_t src_len, char *dst, size_t dst_size, int *exact)
{
	size_t w = 0;
	size_t i = 0;
	int all = 1;
	while (i < src_len) {
		uint32_t cp = src[i];
		size_t units = 1;
		if (is_high(cp) && i + 1 < src_len && is_low(src[i + 1])) {
			cp = 0x10000 + ((cp - 0xD800) << 10) + (src[i + 1] - 0xDC00u);
			units = 2;
		} else if (is_high(cp) || is_low(cp)) {
			cp = 0xFFFD;
			all = 0;
		}
		char seq[4];
		size_t n = utf8_put(cp, seq);
		if (n > dst_size - 1 - w) {
			all = 0;
			break;
		}
		memcpy(dst + w, seq, n);
		w += n;
		i += units;
	}
	dst[w] = '\0';
	if (exact != NULL)
		*exact = all;
	return w;
}

size_t utf8_to_utf16(const char *src, size_t src_len, uint16_t *dst, size_t dst_size)
{
	const unsigned char *s = (const unsigned char *)src;
	size_t w = 0;
	size_t i = 0;
	dst[0] = 0;
	while (i < src_len) {
		int k = utf8_seq(src + i, src_len - i);
		if (k < 0)
			break;
		uint32_t cp = k == 1 ? s[i] : (uint32_t)(s[i] & (0x7F >> k));
		for (int j = 1; j < k; j++)
			cp = cp << 6 | (s[i + (size_t)j] & 0x3Fu);
		size_t units = cp >= 0x10000 ? 2 : 1;
		if (units > dst_size - 1 - w)
			break;
		if (units == 2) {
			dst[w++] = (uint16_t)(0xD800 + ((cp - 0x10000) >> 10));
			dst[w++] = (uint16_t)(0xDC00 + ((cp - 0x10000) & 0x3FF));
		} else {
			dst[w++] = (uint16_t)cp;
		}
		i += (size_t)k;
	}
	if (i < src_len) {
		dst[0] = 0;
		return UTF16_FAILED;
	}
	dst[w] = 0;
	return w;
}
