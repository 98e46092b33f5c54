/* The event log reader: records of `wevtutil qe ... /f:text` output into entries. */
#include "plugin_logs/plugin_logs.h"
#include "platform.h"

#include <stdio.h>
#include <string.h>

enum { COMMAND_BUF_SIZE = 512, RAW_LINE_SIZE = 8192, TRIMMED_LINE_SIZE = 1024 };

static void clear_record(EventParser *p)
{
	memset(&p->record, 0, sizeof(p->record));
	p->level_sev = -1;
	p->in_description = 0;
}

void event_parser_init(EventParser *p, const char *log_name, const char *query, EntrySink sink, void *ctx)
{
	p->log_name = log_name;
	p->query = query;
	p->sink = sink;
	p->ctx = ctx;
	p->finished = 0;
	p->line_open = 0;
	clear_record(p);
}

static void finish_record(EventParser *p)
{
	LogEntry *r = &p->record;
	/* A level that names a severity decides; otherwise the keywords of the text do. */
	r->sev = p->level_sev >= 0 ? p->level_sev : severity_of(r->text);
	if (p->query == NULL || p->query[0] == '\0' || ci_contains(r->text, p->query))
		p->sink(p->ctx, r);
	p->finished++;
}

static int32_t level_severity(const char *level)
{
	if (ci_contains(level, "Error") || ci_contains(level, "Critical"))
		return SEV_ERR;
	if (ci_contains(level, "Warning"))
		return SEV_WARN;
	return -1;
}

/* Appends one more piece of the description, one space between the pieces. */
static void append_text(LogEntry *r, const char *piece)
{
	size_t used = strlen(r->text);
	size_t room = sizeof(r->text) - 1 - used;
	if (piece[0] == '\0')
		return;
	if (used > 0 && room > 0) {
		r->text[used++] = ' ';
		room--;
	}
	copy_text_cut(r->text + used, room + 1, piece, strlen(piece));
}

static int is_blank_line(const char *raw, size_t raw_len)
{
	for (size_t i = 0; i < raw_len; i++) {
		char c = raw[i];
		if (c != ' ' && c != '\t' && c != '\r' && c != '\n')
			return 0;
	}
	return 1;
}

void event_parser_line(EventParser *p, const char *raw, size_t raw_len)
{
	char line[TRIMMED_LINE_SIZE];
	LogEntry *r = &p->record;
	/* The rest of a line longer than the read buffer is dropped, as the trim drops all past
	 * 1023 characters: read as lines of their own, its pieces could end a record early or
	 * forge a field line from the middle of a message. */
	int continued = p->line_open;
	p->line_open = raw_len > 0 && raw[raw_len - 1] != '\n';
	if (continued)
		return;

	if (is_blank_line(raw, raw_len)) {
		if (r->text[0] != '\0')
			finish_record(p);
		clear_record(p);
		return;
	}
	trim_into(line, sizeof(line), raw, raw_len);
	/* The message usually stands on the lines after a bare "Description:". */
	if (p->in_description) {
		append_text(r, line);
		return;
	}
	size_t len = strlen(line);
	if (strncmp(line, "Date:", 5) == 0) {
		size_t n = len - 5;
		if (n > sizeof(r->ts) - 1)
			n = utf8_cut(line + 5, sizeof(r->ts) - 1);
		trim_into(r->ts, sizeof(r->ts), line + 5, n);
	} else if (strncmp(line, "Level:", 6) == 0) {
		fmt_into(r->unit, sizeof(r->unit), "%s", p->log_name);
		p->level_sev = level_severity(line + 6);
	} else if (strncmp(line, "Description:", 12) == 0) {
		trim_into(r->text, sizeof(r->text), line + 12, len - 12);
		p->in_description = 1;
	}
}

int32_t event_parser_finish(EventParser *p)
{
	if (p->record.text[0] != '\0')
		finish_record(p);
	clear_record(p);
	p->line_open = 0;
	return p->finished;
}

int32_t stream_event_log(const char *log_name, int32_t count, const char *query, EntrySink sink, void *ctx)
{
	/* Only the two fixed names and a number ever reach the command interpreter. */
	if (log_name == NULL || (strcmp(log_name, "System") != 0 && strcmp(log_name, "Application") != 0))
		return -1;
	char cmd[COMMAND_BUF_SIZE];
	if (!fmt_into(cmd, sizeof(cmd), "wevtutil qe %s /c:%d /rd:true /f:text %s", log_name, (int)count,
		      plat_null_redirect()))
		return -1;
	FILE *pipe = plat_pipe_open(cmd);
	if (pipe == NULL)
		return -1;
	EventParser parser;
	event_parser_init(&parser, log_name, query, sink, ctx);
	char raw[RAW_LINE_SIZE];
	size_t n;
	/* The command is asked for `count` events and, newest first, a record past them could
	 * only push the newest out of a tail ring; a producer that writes more is not read on. */
	while ((count <= 0 || parser.finished < count) && (n = plat_read_line(pipe, raw, sizeof(raw))) > 0)
		event_parser_line(&parser, raw, n);
	int32_t finished = event_parser_finish(&parser);
	plat_pipe_close(pipe);
	return finished;
}
