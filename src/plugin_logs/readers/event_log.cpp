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
	p->from_header = 0;
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

/* Appends one more piece of the description, one space between the pieces; a cut never
 * ends inside a UTF-8 sequence. */
static void append_text(LogEntry *r, const char *piece)
{
	size_t used = strlen(r->text);
	size_t room = sizeof(r->text) - 1 - used;
	size_t n = strlen(piece);
	if (used > 0 && room > 0)
		room--; /* the space */
	if (n > room)
		n = utf8_cut(piece, room);
	if (n == 0)
		return;
	if (used > 0)
		r->text[used++] = ' ';
	memcpy(r->text + used, piece, n);
	r->text[used + n] = '\0';
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
		if (p->from_header && p->in_description)
			return;
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
		append_text(r, line);
		return;
	}
	size_t len = strlen(line);
	if (strncmp(line, "Date:", 5) == 0) {
		size_t n = len - 5;
		trim_into(r->ts, sizeof(r->ts), line + 5, n < sizeof(r->ts) - 1 ? n : sizeof(r->ts) - 1);
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
