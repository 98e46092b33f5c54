/* Splitting one log line into timestamp, unit, text and the writer's level. */
#include "plugin_logs/plugin_logs.h"
#include "shape_parts.h"

#include <string.h>

enum { SYSLOG_UNIT_MAX = 63 };

static int is_blank(char c)
{
	return c == ' ' || c == '\t';
}

/* The level many programs write as the first word of a syslog message («INFO request
 * served», «<error> disk full», «[WARN] retry»), or SEV_UNCLASSIFIED. */
static int32_t syslog_level(const char *c, size_t len)
{
	size_t i = 0;
	char open = i < len && (c[0] == '[' || c[0] == '<') ? c[0] : 0;
	if (open)
		i++;
	size_t from = i;
	while (i < len && i - from < 12 && ((c[i] >= 'A' && c[i] <= 'Z') || (c[i] >= 'a' && c[i] <= 'z')))
		i++;
	size_t n = i - from;
	if (n < 3)
		return SEV_UNCLASSIFIED;
	if (open && (i >= len || c[i] != (open == '[' ? ']' : '>')))
		return SEV_UNCLASSIFIED;
	if (open)
		i++;
	else if (i < len && c[i] == ':')
		i++;
	/* A word of its own: the message goes on after a blank, or ends. */
	if (i < len && c[i] != ' ' && c[i] != '\t')
		return SEV_UNCLASSIFIED;
	int32_t sev = level_of_word(c + from, n);
	return sev < 0 ? SEV_UNCLASSIFIED : sev;
}

/* Syslog's rest after its timestamp: «host program[pid]: text», the text trimmed. */
static void shape_syslog_rest(LineShape *s, const char *c, size_t len, size_t i)
{
	/* The host runs to the next space; a tab is part of it. */
	if (i < len)
		i++;
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
	while (rest_len > 0 && (*rest == ' ' || *rest == '\t' || *rest == '\r' || *rest == '\n')) {
		rest++;
		rest_len--;
	}
	while (rest_len > 0 && (rest[rest_len - 1] == ' ' || rest[rest_len - 1] == '\t' || rest[rest_len - 1] == '\r' ||
				rest[rest_len - 1] == '\n'))
		rest_len--;
	s->text = rest;
	s->text_len = rest_len;
	s->sev = syslog_level(rest, rest_len);
}

void shape_log_line(LineShape *s, const char *line, size_t len, char *scratch)
{
	while (len > 0 && (line[len - 1] == '\n' || line[len - 1] == '\r'))
		len--;
	s->ts = line;
	s->ts_len = 0;
	s->unit = line;
	s->unit_len = 0;
	s->text = line;
	s->text_len = len;
	s->sev = SEV_UNCLASSIFIED;
	s->has_ts = 0;
	if (len == 0)
		return;
	/* The first byte picks the reading: an object, a timestamp, or neither. */
	size_t first = 0;
	while (first < len && is_blank(line[first]))
		first++;
	if (first < len && line[first] == '{' && shape_json_line(s, line, len, scratch))
		return;
	/* The layouts are read from a terminated copy of the line's start: no bound to test at
	 * each byte. */
	char head[HEAD_SIZE];
	size_t head_len = len < (size_t)HEAD_MAX ? len : (size_t)HEAD_MAX;
	memcpy(head, line, head_len);
	memset(head + head_len, 0, HEAD_PAD);
	size_t unit_at = 0;
	TsMatch m;
	if (!find_ts(head, &m)) {
		s->sev = read_level_field(head, 0, 0, &unit_at, &s->unit_len);
		s->unit = line + unit_at;
		return;
	}
	s->ts = line + m.at;
	s->ts_len = m.len;
	s->has_ts = 1;
	if (m.kind == TS_SYSLOG) {
		shape_syslog_rest(s, line, len, m.end);
		return;
	}
	s->sev = read_level_field(head, m.end, 1, &unit_at, &s->unit_len);
	s->unit = line + unit_at;
	/* The level and logger stay in the text: a search finds them there. CBS ends its time with
	 * a comma. */
	size_t i = m.end;
	if (i < len && line[i] == ',')
		i++;
	while (i < len && is_blank(line[i]))
		i++;
	s->text = line + i;
	s->text_len = len - i;
}

void parse_log_line(LogEntry *e, const char *line, size_t len)
{
	char scratch[SHAPE_SCRATCH_SIZE];
	LineShape s;
	shape_log_line(&s, line, len, scratch);
	copy_text_cut(e->ts, sizeof(e->ts), s.ts, s.ts_len);
	copy_text_cut(e->unit, sizeof(e->unit), s.unit, s.unit_len);
	copy_text_cut(e->text, ENTRY_LINE_TEXT_MAX + 1, s.text, s.text_len);
	e->sev = s.sev;
}
