/* The level fields logging libraries write near the start of a line, one row per writer. */
#include "plugin_logs/plugin_logs.h"
#include "shape_parts.h"

#include <string.h>

struct LevelWord {
	const char *word; /* lower case */
	int32_t sev;
};

/* Level names as the libraries print them, in any case; MEL is Microsoft.Extensions.Logging's
 * console, u3 Serilog's three-letter form. */
static const LevelWord level_words[] = {
	{"info", SEV_INFO},        {"inf", SEV_INFO},   {"information", SEV_INFO}, {"debug", SEV_INFO},
	{"dbg", SEV_INFO},         {"dbug", SEV_INFO},  {"trace", SEV_INFO},       {"trce", SEV_INFO},
	{"verbose", SEV_INFO},     {"vrb", SEV_INFO},   {"notice", SEV_INFO},      {"warn", SEV_WARN},
	{"warning", SEV_WARN},     {"wrn", SEV_WARN},   {"error", SEV_ERR},        {"err", SEV_ERR},
	{"fail", SEV_ERR},         {"fatal", SEV_ERR},  {"ftl", SEV_ERR},          {"crit", SEV_ERR},
	{"critical", SEV_ERR},     {"severe", SEV_ERR}, {"alert", SEV_ERR},        {"emerg", SEV_ERR},
	{"panic", SEV_ERR},
};

enum {
	LEVEL_WORD_MAX = 11, /* "information" */
	UNIT_SCAN_MAX = 128, /* a logger or component name longer than this is not one */
	THREAD_SCAN_MAX = 64,
	AT_START = 1,        /* the row may also open a line that has no timestamp */
};

/* A level layout is a pattern of these codes; any other byte stands for itself:
 *   ' ' one or more blanks     '_' any number of blanks     '$' a blank or the end of the line
 *   L   a level word            C   logcat's level letter (V D I W E F A)
 *   U   the logger, component or tag: bytes up to a blank or the pattern's next byte
 *   *   the same, not kept      T   a thread in brackets    N   a number (process, thread)
 * Rows are tried in order after the timestamp; the first that matches gives the level. At the
 * start of a line without a timestamp only the AT_START rows are tried, without their leading
 * blank: a bare word opening a line is as likely prose as a level. */
struct LevelLayout {
	const char *writer;
	const char *pattern;
	int32_t flags;
};

static const LevelLayout level_layouts[] = {
	{"CBS.log, DISM.log: «, Info    CBS    text»", ", L U$", 0},
	{"NLog default: «|ERROR|Logger|text»", "|L|U|", 0},
	{"Serilog, nginx error log, Maven: «[ERR] text»", " [L]", AT_START},
	{"Apache 2.4 error log: «[core:error]»", " [*:L]", 0},
	{"Python logging default: «- name - WARNING - text»", " - U - L -$", 0},
	{"Android logcat threadtime: «  123  456 I Tag: text»", " N N C U_:", 0},
	{"Spring Boot: «INFO 123 --- [main] Logger : text»", " L N --- T U :", 0},
	{"Spring Boot 3, with application name", " L N --- T T U :", 0},
	{"Tomcat OneLineFormatter: «SEVERE [main] Class.method text»", " L T U$", 0},
	{"logback, log4j: «[main] INFO Logger - text»", " T L U -$", 0},
	{"log4net detailed: «[1] ERROR Logger [(null)] - text»", " T L U T -$", 0},
	{"log4j, log4net without thread: «ERROR Logger - text»", " L U -$", 0},
	{"thread then level", " T L$", 0},
	{"Python logging basicConfig: «WARNING:root:text»", " L:U:", AT_START},
	{"Microsoft.Extensions.Logging console: «info: Category[0]»", " L: U[", AT_START},
	{"level and colon: «ERROR: text», «fail: text»", " L:", AT_START},
	{"bare level: zap console, log4j «%p», Spring Boot", " L$", 0},
	{"angle brackets: «<Error> text»", " <L>", AT_START},
	{"logfmt: «level=error»", " level=L$", AT_START},
	{"logfmt: «lvl=error»", " lvl=L$", AT_START},
	{"logfmt after one field: «caller=x.go:1 level=info»", " * level=L$", AT_START},
};

static int is_blank(unsigned c)
{
	return c == ' ' || c == '\t';
}

static int is_digit(unsigned c)
{
	return c - '0' < 10;
}

static int is_letter(unsigned c)
{
	return (c | 0x20) - 'a' < 26;
}

int32_t level_of_word(const char *w, size_t n)
{
	if (n < 3 || n > LEVEL_WORD_MAX)
		return -1;
	char lower[LEVEL_WORD_MAX + 1];
	for (size_t i = 0; i < n; i++) {
		if (!is_letter((unsigned char)w[i]))
			return -1;
		lower[i] = (char)(w[i] | 0x20);
	}
	lower[n] = '\0';
	for (const LevelWord *l = level_words; l < level_words + sizeof(level_words) / sizeof(level_words[0]); l++) {
		if (l->word[0] == lower[0] && strcmp(l->word, lower) == 0)
			return l->sev;
	}
	return -1;
}

static int32_t logcat_level(unsigned c)
{
	switch (c) {
	case 'V':
	case 'D':
	case 'I':
		return SEV_INFO;
	case 'W':
		return SEV_WARN;
	case 'E':
	case 'F':
	case 'A':
		return SEV_ERR;
	default:
		return -1;
	}
}

/* 1 when a pattern byte is a code rather than a byte that stands for itself. */
static int is_code(char p)
{
	return p == ' ' || p == '_' || p == '$' || p == 'L' || p == 'C' || p == 'U' || p == '*' || p == 'T' ||
	       p == 'N';
}

/* Matches one pattern at c[i..len). Returns the level it reads, or -1; *unit gets the logger. */
static int32_t match_level(const char *pattern, const unsigned char *c, size_t len, size_t i, size_t *unit_at,
			   size_t *unit_len)
{
	int32_t level = -1;
	for (const char *p = pattern; *p != '\0'; p++) {
		switch (*p) {
		case ' ':
			if (i >= len || !is_blank(c[i]))
				return -1;
			/* fall through */
		case '_':
			while (i < len && is_blank(c[i]))
				i++;
			break;
		case '$':
			if (i < len && !is_blank(c[i]))
				return -1;
			break;
		case 'L': {
			size_t a = i;
			while (i < len && is_letter(c[i]) && i - a <= LEVEL_WORD_MAX)
				i++;
			/* «INFO2» or «info_x» is a name, not a level. */
			if (i < len && (is_digit(c[i]) || c[i] == '_'))
				return -1;
			if ((level = level_of_word((const char *)c + a, i - a)) < 0)
				return -1;
			break;
		}
		case 'C':
			if (i >= len || (level = logcat_level(c[i])) < 0)
				return -1;
			i++;
			break;
		case 'N':
			if (i >= len || !is_digit(c[i]))
				return -1;
			while (i < len && is_digit(c[i]))
				i++;
			break;
		case 'T': {
			if (i >= len || c[i] != '[')
				return -1;
			size_t room = len - i - 1 < THREAD_SCAN_MAX ? len - i - 1 : (size_t)THREAD_SCAN_MAX;
			const unsigned char *close = (const unsigned char *)memchr(c + i + 1, ']', room);
			if (close == NULL)
				return -1;
			i = (size_t)(close - c) + 1;
			break;
		}
		case 'U':
		case '*': {
			/* A tag may stand right before its colon: «Tag: text» as well as «Tag  : text». */
			char next = p[1] == '_' ? p[2] : p[1];
			unsigned stop = next == '\0' || is_code(next) ? ' ' : (unsigned char)next;
			size_t a = i;
			while (i < len && c[i] != stop && !is_blank(c[i]) && i - a < UNIT_SCAN_MAX)
				i++;
			if (i == a || i - a >= UNIT_SCAN_MAX)
				return -1;
			if (*p == 'U') {
				*unit_at = a;
				*unit_len = i - a;
			}
			break;
		}
		default:
			if (i >= len || c[i] != (unsigned char)*p)
				return -1;
			i++;
			break;
		}
	}
	return level;
}

int32_t read_level_field(const char *line, size_t len, size_t at, int after_ts, const char **unit,
			 size_t *unit_len)
{
	const unsigned char *c = (const unsigned char *)line;
	if (at >= len)
		return SEV_UNCLASSIFIED;
	/* Each row opens with a blank or a mark: other lines are not looked at further. */
	unsigned first = c[at];
	if (after_ts && !is_blank(first) && first != ',' && first != '|')
		return SEV_UNCLASSIFIED;
	for (const LevelLayout *l = level_layouts; l < level_layouts + sizeof(level_layouts) / sizeof(level_layouts[0]); l++) {
		const char *pattern = l->pattern;
		if (!after_ts) {
			if (!(l->flags & AT_START))
				continue;
			pattern++;
		}
		size_t u_at = 0, u_len = 0;
		int32_t level = match_level(pattern, c, len, at, &u_at, &u_len);
		if (level < 0)
			continue;
		if (u_len != 0) {
			*unit = line + u_at;
			*unit_len = u_len;
		}
		return level;
	}
	return SEV_UNCLASSIFIED;
}
