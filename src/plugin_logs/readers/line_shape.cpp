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

static int is_blank(char c)
{
	return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

static int parse_syslog(LineShape *s, const char *c, size_t len)
{
	if (len < 17 || !is_letter(c[0]) || c[3] != ' ' || !is_digit(c[4]) || c[6] != ' ' || c[9] != ':')
		return 0;
	s->ts = c;
	s->ts_len = SYSLOG_TS_LEN;
	size_t i = 16;
	while (i < len && c[i] != ' ')
		i++;
	while (i < len && c[i] == ' ')
		i++;
	const char *rest = c + i;
	size_t rest_len = len - i;
	const char *colon = (const char *)memchr(rest, ':', rest_len);
	if (colon != NULL && (size_t)(colon - rest) <= SYSLOG_UNIT_MAX) {
		s->unit = rest;
		s->unit_len = (size_t)(colon - rest);
		rest_len -= (size_t)(colon + 1 - rest);
		rest = colon + 1;
	}
	while (rest_len > 0 && is_blank(rest[0]))
		rest++, rest_len--;
	while (rest_len > 0 && is_blank(rest[rest_len - 1]))
		rest_len--;
	s->text = rest;
	s->text_len = rest_len;
	return 1;
}

static int parse_iso(LineShape *s, const char *c, size_t len)
{
	if (len < 21 || !is_digit(c[0]) || c[4] != '-' || c[7] != '-' || (c[10] != 'T' && c[10] != ' '))
		return 0;
	size_t j = 11;
	while (c[j] != ' ' && c[j] != '\t') {
		j++;
		if (j >= len || j > ISO_TS_SCAN_END)
			break;
	}
	s->ts = c;
	s->ts_len = j <= (size_t)ISO_TS_MAX ? j : utf8_cut(c, ISO_TS_MAX);
	size_t k = j;
	while (k < len && ((unsigned char)c[k] & 0xC0) == 0x80)
		k++;
	while (k < len && (c[k] == ' ' || c[k] == '\t'))
		k++;
	s->text = c + k;
	s->text_len = len - k;
	return 1;
}

void shape_log_line(LineShape *s, const char *line, size_t len, char *scratch)
{
	(void)scratch;
	while (len > 0 && (line[len - 1] == '\n' || line[len - 1] == '\r'))
		len--;
	const void *nul = memchr(line, '\0', len);
	if (nul != NULL)
		len = (size_t)((const char *)nul - line);
	s->ts = s->unit = s->text = line;
	s->ts_len = s->unit_len = 0;
	s->sev = SEV_UNCLASSIFIED;
	s->has_ts = 1;
	if (parse_syslog(s, line, len) || parse_iso(s, line, len))
		return;
	s->has_ts = 0;
	s->text_len = len;
}

void parse_log_line(LogEntry *e, const char *line, size_t len)
{
	static char scratch[1];
	LineShape s;
	shape_log_line(&s, line, len, scratch);
	copy_text_cut(e->ts, sizeof(e->ts), s.ts, s.ts_len);
	copy_text_cut(e->unit, sizeof(e->unit), s.unit, s.unit_len);
	copy_text_cut(e->text, ENTRY_LINE_TEXT_MAX + 1, s.text, s.text_len);
	e->sev = s.sev;
}
