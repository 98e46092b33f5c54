/* Splitting one log line into timestamp, unit and text: syslog, ISO 8601 or plain. */
#include "plugin_logs/plugin_logs.h"

#include <string.h>

enum { SYSLOG_TS_LEN = 15, SYSLOG_UNIT_MAX = 63, ISO_TS_MAX = 24, ISO_TS_SCAN_END = 31 };

static int is_digit(char c)
{
	return c >= '0' && c <= '9';
}

static int is_letter(char c)
{
	return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

/* «Mmm dd hh:mm:ss host unit: text»; only the indices below are tested. */
static int parse_syslog(LogEntry *e, const char *c, size_t len)
{
	if (len < 17 || !is_letter(c[0]) || c[3] != ' ' || !is_digit(c[4]) || c[6] != ' ' || c[9] != ':')
		return 0;
	copy_text_cut(e->ts, sizeof(e->ts), c, utf8_cut(c, SYSLOG_TS_LEN));
	size_t i = 16;
	while (i < len && c[i] != ' ')
		i++;
	while (i < len && c[i] == ' ')
		i++;
	const char *rest = c + i;
	size_t rest_len = len - i;
	const char *colon = (const char *)memchr(rest, ':', rest_len);
	if (colon != NULL && (size_t)(colon - rest) <= SYSLOG_UNIT_MAX) {
		copy_text_cut(e->unit, sizeof(e->unit), rest, (size_t)(colon - rest));
		rest_len -= (size_t)(colon + 1 - rest);
		rest = colon + 1;
	}
	/* The text is cut to its field first and trimmed after, in one copy. */
	if (rest_len > sizeof(e->text) - 1)
		rest_len = utf8_cut(rest, sizeof(e->text) - 1);
	trim_into(e->text, sizeof(e->text), rest, rest_len);
	return 1;
}

/* «yyyy-mm-ddThh:mm:ss... text» or with a space for the T. */
static int parse_iso(LogEntry *e, const char *c, size_t len)
{
	if (len < 21 || !is_digit(c[0]) || c[4] != '-' || c[7] != '-' || (c[10] != 'T' && c[10] != ' '))
		return 0;
	size_t j = 11;
	while (c[j] != ' ' && c[j] != '\t') {
		j++;
		if (j >= len || j > ISO_TS_SCAN_END)
			break;
	}
	copy_text_cut(e->ts, sizeof(e->ts), c, j <= (size_t)ISO_TS_MAX ? j : utf8_cut(c, ISO_TS_MAX));
	/* The scan may stop inside a character; its rest belongs to no field either. */
	size_t k = j;
	while (k < len && ((unsigned char)c[k] & 0xC0) == 0x80)
		k++;
	while (k < len && (c[k] == ' ' || c[k] == '\t'))
		k++;
	copy_text_cut(e->text, sizeof(e->text), c + k, len - k);
	return 1;
}

void parse_log_line(LogEntry *e, const char *line, size_t len)
{
	/* Only the fields are made clean, not the whole record: they are all that is printed. */
	e->ts[0] = '\0';
	e->unit[0] = '\0';
	e->sev = SEV_INFO;
	while (len > 0 && (line[len - 1] == '\n' || line[len - 1] == '\r'))
		len--;
	if (parse_syslog(e, line, len) || parse_iso(e, line, len))
		return;
	copy_text_cut(e->text, sizeof(e->text), line, len);
}
