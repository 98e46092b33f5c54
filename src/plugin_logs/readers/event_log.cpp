/* The event log reader: runs `wevtutil qe ... /f:text /uni:true` and turns its records into entries. */
#include "plugin_logs/plugin_logs.h"
#include "platform.h"

#include <stdio.h>
#include <string.h>

enum {
	TRIMMED_LINE_SIZE = 8192,
	COUNT_ARG_SIZE = 16,
	/* The event query of a time range: two bounds of 24 characters and its fixed words. */
	QUERY_ARG_SIZE = 160,
	OUTPUT_CHUNK = 8192,
	/* A query that has not finished by then is ended: a hung tool must not hold the request
	 * (and the web server's worker) for ever. */
	EVENT_TIME_LIMIT_MS = 20000
};

static void clear_record(EventParser *p)
{
	LogEntry *r = &p->record;
	r->ts[0] = '\0';
	r->unit[0] = '\0';
	r->text[0] = '\0';
	r->sev = SEV_INFO;
	r->event_id = EVENT_ID_NONE;
	p->text_len = 0;
	p->breaks = 0;
	p->level_sev = -1;
	p->in_description = 0;
	p->from_header = 0;
}

void event_parser_init(EventParser *p, const char *log_name, const char *query, int multiline, EntrySink sink,
		       void *ctx)
{
	p->log_name = log_name;
	p->query = query;
	p->multiline = multiline;
	p->sink = sink;
	p->ctx = ctx;
	p->finished = 0;
	p->line_open = 0;
	clear_record(p);
}

static void finish_record(EventParser *p)
{
	LogEntry *r = &p->record;
	/* A level that names a severity decides; otherwise the keywords of the text do, of its
	 * first line when it keeps its lines. */
	if (p->level_sev >= 0) {
		r->sev = p->level_sev;
	} else {
		const char *lf = p->multiline ? strchr(r->text, '\n') : NULL;
		r->sev = severity_of_bytes(r->text, lf != NULL ? (size_t)(lf - r->text) : p->text_len);
	}
	/* Event Viewer names a record by its Source; the log's name stands in for a record
	 * without one. */
	if (r->unit[0] == '\0')
		fmt_into(r->unit, sizeof(r->unit), "%s", p->log_name);
	if (p->query == NULL || p->query[0] == '\0' || ci_contains(r->text, p->query))
		p->sink(p->ctx, r);
	p->finished++;
}

/* The Level value as Windows shows it in its display languages; the labels stay English.
 * Sources: public captures of wevtutil and Event Viewer output, Microsoft's localized Windows
 * help, and Microsoft's terms in its other products. */
static const struct {
	const char *name;
	int32_t sev;
} level_names[] = {
	{"Critical", SEV_ERR},        {"Error", SEV_ERR},         {"Warning", SEV_WARN},
	{"Information", SEV_INFO},
	/* German */
	{"Kritisch", SEV_ERR},        {"Fehler", SEV_ERR},        {"Warnung", SEV_WARN},
	{"Informationen", SEV_INFO},
	/* French */
	{"Critique", SEV_ERR},        {"Erreur", SEV_ERR},        {"Avertissement", SEV_WARN},
	{"Informations", SEV_INFO},
	/* Spanish ("Error" as in English) */
	{"Crítico", SEV_ERR},         {"Advertencia", SEV_WARN},  {"Información", SEV_INFO},
	/* Italian */
	{"Critico", SEV_ERR},         {"Errore", SEV_ERR},        {"Avviso", SEV_WARN},
	{"Informazioni", SEV_INFO},
	/* Portuguese, of Brazil and then of Portugal ("Crítico" as in Spanish) */
	{"Erro", SEV_ERR},            {"Aviso", SEV_WARN},        {"Informações", SEV_INFO},
	{"Informação", SEV_INFO},
	/* Russian */
	{"Критический", SEV_ERR},     {"Ошибка", SEV_ERR},        {"Предупреждение", SEV_WARN},
	{"Сведения", SEV_INFO},
	/* Polish */
	{"Krytyczne", SEV_ERR},       {"Błąd", SEV_ERR},          {"Ostrzeżenie", SEV_WARN},
	{"Informacje", SEV_INFO},
	/* Dutch */
	{"Kritiek", SEV_ERR},         {"Fout", SEV_ERR},          {"Waarschuwing", SEV_WARN},
	{"Informatie", SEV_INFO},
	/* Turkish */
	{"Kritik", SEV_ERR},          {"Hata", SEV_ERR},          {"Uyarı", SEV_WARN},
	{"Bilgi", SEV_INFO},
	/* Japanese, and Chinese where they share the word */
	{"重大", SEV_ERR},            {"エラー", SEV_ERR},        {"警告", SEV_WARN},
	{"情報", SEV_INFO},
	/* Korean */
	{"위험", SEV_ERR},            {"오류", SEV_ERR},          {"경고", SEV_WARN},
	{"정보", SEV_INFO},
	/* Chinese (Simplified) */
	{"关键", SEV_ERR},            {"错误", SEV_ERR},          {"信息", SEV_INFO},
	/* Chinese (Traditional) */
	{"錯誤", SEV_ERR},            {"資訊", SEV_INFO},
	/* Czech */
	{"Kritická", SEV_ERR},        {"Chyba", SEV_ERR},         {"Upozornění", SEV_WARN},
	{"Informace", SEV_INFO},
	/* Swedish ("Information" as in English) */
	{"Kritisk", SEV_ERR},         {"Fel", SEV_ERR},           {"Varning", SEV_WARN},
};

/* The severity a Level value names, or -1 for a value not in the table (Verbose, a level of
 * the provider's own): the text's keywords decide those. The whole value must match. */
static int32_t level_severity(const char *value)
{
	while (*value == ' ' || *value == '\t')
		value++;
	size_t len = strlen(value);
	for (const auto &level : level_names) {
		/* Of the same length, a match anywhere is a match of the whole. */
		if (strlen(level.name) == len && ci_contains(value, level.name))
			return level.sev;
	}
	return -1;
}

/* The bound of a description: one line's room, or with its lines kept the room of an entry of
 * several lines. */
static size_t text_max(const EventParser *p)
{
	return p->multiline ? ENTRY_TEXT_MAX : ENTRY_LINE_TEXT_MAX;
}

/* Appends one more line of the description: after a line feed for each line break when its
 * lines are kept (blank lines between paragraphs included), else after one space. A cut never
 * ends inside a UTF-8 sequence. */
static void append_text(EventParser *p, const char *piece)
{
	LogEntry *r = &p->record;
	size_t used = p->text_len;
	size_t max = text_max(p);
	size_t sep = used == 0 ? 0 : p->multiline ? 1 + (size_t)p->breaks : 1;
	p->breaks = 0;
	if (used + sep >= max)
		return;
	size_t room = max - used - sep;
	size_t n = strlen(piece);
	if (n > room)
		n = utf8_cut(piece, room);
	if (n == 0)
		return;
	memset(r->text + used, p->multiline ? '\n' : ' ', sep);
	used += sep;
	memcpy(r->text + used, piece, n);
	p->text_len = used + n;
	r->text[p->text_len] = '\0';
}

/* The Source as Event Viewer shows it: the provider's name without the prefix Windows's own
 * providers share. */
static void set_source(LogEntry *r, const char *value)
{
	while (*value == ' ' || *value == '\t')
		value++;
	static const char OWN_PREFIX[] = "Microsoft-Windows-";
	if (strncmp(value, OWN_PREFIX, sizeof(OWN_PREFIX) - 1) == 0 && value[sizeof(OWN_PREFIX) - 1] != '\0')
		value += sizeof(OWN_PREFIX) - 1;
	copy_text_cut(r->unit, sizeof(r->unit), value, strlen(value));
}

/* "Event ID:" holds a decimal number (0 to 65535 on Windows); anything else names none. */
static int32_t event_id_of(const char *value)
{
	while (*value == ' ' || *value == '\t')
		value++;
	int32_t id = 0;
	const char *c = value;
	for (; *c >= '0' && *c <= '9'; c++) {
		if (id > 99999999)
			return EVENT_ID_NONE;
		id = id * 10 + (*c - '0');
	}
	return c == value || *c != '\0' ? EVENT_ID_NONE : id;
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

/* "Event[N]" or "Event[N]:", N decimal: the line that opens each record of real output. */
static int is_event_header(const char *line)
{
	if (strncmp(line, "Event[", 6) != 0)
		return 0;
	const char *c = line + 6;
	if (*c < '0' || *c > '9')
		return 0;
	while (*c >= '0' && *c <= '9')
		c++;
	if (*c++ != ']')
		return 0;
	if (*c == ':')
		c++;
	return *c == '\0';
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
		/* Real descriptions hold blank lines between their paragraphs; in a record that a
		 * header began, only the next header ends the description. */
		if (p->from_header && p->in_description) {
			if (p->text_len > 0 && p->breaks < ENTRY_LINES_MAX)
				p->breaks++;
			return;
		}
		if (r->text[0] != '\0')
			finish_record(p);
		clear_record(p);
		return;
	}
	trim_into(line, sizeof(line), raw, raw_len);
	if (is_event_header(line)) {
		if (r->text[0] != '\0')
			finish_record(p);
		clear_record(p);
		p->from_header = 1;
		return;
	}
	/* The message usually stands on the lines after a bare "Description:". */
	if (p->in_description) {
		append_text(p, line);
		return;
	}
	size_t len = strlen(line);
	if (strncmp(line, "Date:", 5) == 0) {
		size_t n = len - 5;
		if (n > sizeof(r->ts) - 1)
			n = utf8_cut(line + 5, sizeof(r->ts) - 1);
		trim_into(r->ts, sizeof(r->ts), line + 5, n);
	} else if (strncmp(line, "Level:", 6) == 0) {
		p->level_sev = level_severity(line + 6);
	} else if (strncmp(line, "Source:", 7) == 0) {
		set_source(r, line + 7);
	} else if (strncmp(line, "Event ID:", 9) == 0) {
		r->event_id = event_id_of(line + 9);
	} else if (strncmp(line, "Description:", 12) == 0) {
		p->text_len = 0;
		p->breaks = 0;
		char first[TRIMMED_LINE_SIZE];
		trim_into(first, sizeof(first), line + 12, len - 12);
		append_text(p, first);
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

static int limit_reached(const EventStream *s)
{
	return s->limit > 0 && s->parser.finished >= s->limit;
}

void event_stream_init(EventStream *s, const char *log_name, int32_t limit, const char *query, int multiline,
		       EntrySink sink, void *ctx)
{
	output_decoder_init(&s->decoder);
	event_parser_init(&s->parser, log_name, query, multiline, sink, ctx);
	s->limit = limit;
	s->line_len = 0;
}

/* Every raw line of the output, or piece of a longer one, enters the parser here and only here. */
static void intake_line(EventStream *s)
{
	/* Decoded UTF-16 is valid UTF-8 already; byte output may be in the ANSI code page. A
	 * piece of a longer line ends on a whole character, so that half of one does not make
	 * the whole piece look like code-page text (the rest of the line is dropped anyway). */
	char utf8_line[3 * (EVENT_LINE_SIZE - 1) + 1];
	size_t len = s->line_len;
	if (len > 0 && s->line[len - 1] != '\n')
		len = utf8_whole_len(s->line, len);
	const char *line = plat_text_to_utf8(s->line, &len, utf8_line, sizeof(utf8_line));
	event_parser_line(&s->parser, line, len);
	s->line_len = 0;
}

/* Cuts decoded text into lines. Returns 0 once the limit is reached. */
static int split_lines(EventStream *s, const char *text, size_t len)
{
	while (len > 0) {
		if (limit_reached(s))
			return 0;
		size_t room = sizeof(s->line) - 1 - s->line_len;
		size_t n = len < room ? len : room;
		const char *lf = (const char *)memchr(text, '\n', n);
		if (lf != NULL)
			n = (size_t)(lf - text) + 1;
		memcpy(s->line + s->line_len, text, n);
		s->line_len += n;
		text += n;
		len -= n;
		if (lf != NULL || s->line_len == sizeof(s->line) - 1)
			intake_line(s);
	}
	return !limit_reached(s);
}

int event_stream_feed(EventStream *s, const char *raw, size_t raw_len)
{
	char text[OUTPUT_DECODE_ROOM(OUTPUT_CHUNK)];
	while (raw_len > 0) {
		if (limit_reached(s))
			return 0;
		size_t n = raw_len < (size_t)OUTPUT_CHUNK ? raw_len : (size_t)OUTPUT_CHUNK;
		if (!split_lines(s, text, output_decode(&s->decoder, raw, n, text)))
			return 0;
		raw += n;
		raw_len -= n;
	}
	return !limit_reached(s);
}

int32_t event_stream_finish(EventStream *s)
{
	char rest[8];
	if (!limit_reached(s) && split_lines(s, rest, output_decode_end(&s->decoder, rest)) && s->line_len > 0)
		intake_line(s);
	/* At the limit the record under construction is past the count: it is not finished. */
	if (limit_reached(s))
		return s->parser.finished;
	return event_parser_finish(&s->parser);
}

int32_t stream_event_log(const char *log_name, int32_t count, const char *query, int multiline, EntrySink sink,
			 void *ctx)
{
	return stream_event_log_range(log_name, count, NULL, query, multiline, sink, ctx);
}

int32_t stream_event_log_range(const char *log_name, int32_t count, const TimeRange *r, const char *query,
			       int multiline, EntrySink sink, void *ctx)
{
	/* Only the two fixed names and a number ever reach the command. */
	if (log_name == NULL || (strcmp(log_name, "System") != 0 && strcmp(log_name, "Application") != 0))
		return -1;
	char count_arg[COUNT_ARG_SIZE];
	fmt_into(count_arg, sizeof(count_arg), "/c:%d", (int)count);
	/* A time range goes to the tool as its own event query: it picks the newest `count`
	 * events within it, which a filter of its output could not. */
	char xpath[QUERY_ARG_SIZE];
	char query_arg[QUERY_ARG_SIZE + 4];
	const char *args[8];
	int argc = 0;
	args[argc++] = "qe";
	args[argc++] = log_name;
	if (event_time_query(r, xpath, sizeof(xpath)) && fmt_into(query_arg, sizeof(query_arg), "/q:%s", xpath))
		args[argc++] = query_arg;
	args[argc++] = count_arg;
	args[argc++] = "/rd:true";
	args[argc++] = "/f:text";
	/* /uni:true: UTF-16 output, which carries every character; the code page would not. */
	args[argc++] = "/uni:true";
	PlatProc proc;
	if (!plat_proc_start(&proc, "wevtutil", args, argc, EVENT_TIME_LIMIT_MS))
		return -1;
	EventStream s;
	event_stream_init(&s, log_name, count, query, multiline, sink, ctx);
	char raw[OUTPUT_CHUNK];
	int32_t n;
	while ((n = plat_proc_read(&proc, raw, sizeof(raw))) > 0) {
		/* Asked for `count` events, newest first: a record past them could only push the
		 * newest out of a tail ring, so the tool is not waited for once they are in. */
		if (!event_stream_feed(&s, raw, (size_t)n)) {
			plat_proc_kill(&proc);
			return event_stream_finish(&s);
		}
	}
	int32_t finished = event_stream_finish(&s);
	uint32_t status = 0;
	if (n == PLAT_PROC_TIMED_OUT) {
		plat_proc_kill(&proc);
		return -1;
	}
	if (n < 0) {
		plat_proc_kill(&proc);
		status = 1;
	} else if (!plat_proc_wait(&proc, &status)) {
		return -1;
	}
	/* wevtutil reports "Access is denied" or an unknown channel on its error output and
	 * exits non-zero: with nothing read that is a failure, not an empty log. Records it
	 * finished before failing are kept. */
	if (status != 0 && finished == 0)
		return -1;
	return finished;
}
