/* Output primitives: the JSON header block, JSON string literals, formatted writes. */
#include "plugin_logs/plugin_logs.h"

#include <stdarg.h>
#include <stdio.h>
#include <string.h>

void out_write(const char *data, size_t len)
{
	if (len > 0)
		fwrite(data, 1, len, stdout);
}

void out_text(const char *text)
{
	fputs(text, stdout);
}

void out_printf(const char *fmt, ...)
{
	va_list ap;
	va_start(ap, fmt);
	vfprintf(stdout, fmt, ap);
	va_end(ap);
}

int fmt_into(char *dst, size_t dst_size, const char *fmt, ...)
{
	va_list ap;
	va_start(ap, fmt);
	int n = vsnprintf(dst, dst_size, fmt, ap);
	va_end(ap);
	if (n < 0) {
		dst[0] = '\0';
		return 0;
	}
	return (size_t)n < dst_size;
}

void json_header(void)
{
	static const char header[] = "Content-Type: application/json; charset=utf-8\r\n"
				     "Cache-Control: no-store\r\n"
				     "X-Content-Type-Options: nosniff\r\n"
				     "\r\n";
	out_write(header, sizeof(header) - 1);
}

void json_str(const char *s)
{
	char esc[8];
	fputc('"', stdout);
	if (s != NULL) {
		const char *run = s;
		const char *p = s;
		/* Write unescaped stretches in one piece; only the escapes go byte by byte. */
		for (; *p != '\0'; p++) {
			unsigned char c = (unsigned char)*p;
			const char *rep;
			size_t skip = 1;
			switch (c) {
			case '"': rep = "\\\""; break;
			case '\\': rep = "\\\\"; break;
			case '\n': rep = "\\n"; break;
			case '\r': rep = "\\r"; break;
			case '\t': rep = "\\t"; break;
			default:
				if (c >= 0x80) {
					/* The readers hand over UTF-8; this is the last line that keeps every
					 * document UTF-8 whatever a text held. */
					int k = utf8_seq(p, 4);
					if (k > 0) {
						p += k - 1;
						continue;
					}
					rep = UTF8_REPLACEMENT;
					skip = (size_t)-k;
					break;
				}
				if (c >= 0x20)
					continue;
				snprintf(esc, sizeof(esc), "\\u%04x", c);
				rep = esc;
				break;
			}
			out_write(run, (size_t)(p - run));
			out_write(rep, strlen(rep));
			p += skip - 1;
			run = p + 1;
		}
		out_write(run, (size_t)(p - run));
	}
	fputc('"', stdout);
}
