/* The level fields logging libraries write near the start of a line, one row per writer. */
#include "plugin_logs/plugin_logs.h"
#include "shape_parts.h"

#include <string.h>

/* A word of up to eight lower-case letters as one number, its first letter lowest. */
static constexpr uint64_t packed(const char *w)
{
	uint64_t v = 0;
	for (int i = 0; i < 8 && w[i] != '\0'; i++)
		v |= (uint64_t)(unsigned char)w[i] << (8 * i);
	return v;
}

struct LevelWord {
	uint64_t word; /* packed, lower case */
	int32_t sev;
};

/* Level names as the libraries print them, in any case; MEL is Microsoft.Extensions.Logging's
 * console, u3 Serilog's three-letter form. "information", the one longer than eight letters,
 * is looked at on its own. */
static constexpr LevelWord level_words[] = {
	{packed("info"), SEV_INFO},     {packed("inf"), SEV_INFO},      {packed("error"), SEV_ERR},
	{packed("warn"), SEV_WARN},     {packed("debug"), SEV_INFO},    {packed("warning"), SEV_WARN},
	{packed("err"), SEV_ERR},       {packed("wrn"), SEV_WARN},      {packed("dbg"), SEV_INFO},
	{packed("trace"), SEV_INFO},    {packed("fail"), SEV_ERR},      {packed("fatal"), SEV_ERR},
	{packed("ftl"), SEV_ERR},       {packed("dbug"), SEV_INFO},     {packed("trce"), SEV_INFO},
	{packed("crit"), SEV_ERR},      {packed("critical"), SEV_ERR},  {packed("verbose"), SEV_INFO},
	{packed("vrb"), SEV_INFO},      {packed("notice"), SEV_INFO},   {packed("severe"), SEV_ERR},
	{packed("alert"), SEV_ERR},     {packed("emerg"), SEV_ERR},     {packed("panic"), SEV_ERR},
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

static constexpr LevelLayout level_layouts[] = {
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

enum { LEVEL_LAYOUTS = sizeof(level_layouts) / sizeof(level_layouts[0]) };
static_assert(LEVEL_LAYOUTS <= 32, "the rows are picked from a 32-bit mask");

static constexpr int is_blank(unsigned c)
{
	return c == ' ' || c == '\t';
}

static constexpr int is_digit(unsigned c)
{
	return c - '0' < 10;
}

static constexpr int is_letter(unsigned c)
{
	return (c | 0x20) - 'a' < 26;
}

/* 1 when the byte b can begin what the pattern code p matches. */
static constexpr int may_begin(char p, unsigned b)
{
	switch (p) {
	case 'L':
	case 'C':
		return is_letter(b);
	case 'N':
		return is_digit(b);
	case 'T':
		return b == '[';
	case 'U':
	case '*':
		return b != 0 && !is_blank(b);
	default:
		return b == (unsigned char)p;
	}
}

/* For each byte, the rows that may begin there: after a timestamp and blanks, right after a
 * timestamp, and at the start of a line without one. Built when compiling, so a line asks only
 * the rows its next byte fits. */
struct LevelRowMasks {
	uint32_t after_blanks[256];
	uint32_t after_ts[256];
	uint32_t at_start[256];
};

static constexpr LevelRowMasks level_row_masks()
{
	LevelRowMasks m = {};
	for (uint32_t k = 0; k < LEVEL_LAYOUTS; k++) {
		const char *p = level_layouts[k].pattern;
		for (unsigned b = 0; b < 256; b++) {
			if (p[0] != ' ' && may_begin(p[0], b))
				m.after_ts[b] |= 1u << k;
			if (p[0] == ' ' && may_begin(p[1], b))
				m.after_blanks[b] |= 1u << k;
			if ((level_layouts[k].flags & AT_START) && may_begin(p[p[0] == ' '], b))
				m.at_start[b] |= 1u << k;
		}
	}
	return m;
}

static constexpr LevelRowMasks row_masks = level_row_masks();

enum { WORD_SLOTS = 64 };

/* The slot a packed word hashes to; the table below is built so that each word has its own. */
static constexpr uint32_t word_slot(uint64_t v)
{
	return (uint32_t)((v * 0x9E3779B97F4A7C15ull) >> 58);
}

struct LevelWordSlots {
	uint64_t word[WORD_SLOTS]; /* 0: empty */
	int32_t sev[WORD_SLOTS];
};

static constexpr LevelWordSlots level_word_slots()
{
	LevelWordSlots t = {};
	for (const LevelWord &l : level_words) {
		uint32_t k = word_slot(l.word);
		while (t.word[k] != 0)
			k = (k + 1) % WORD_SLOTS;
		t.word[k] = l.word;
		t.sev[k] = l.sev;
	}
	return t;
}

static constexpr LevelWordSlots word_slots = level_word_slots();

/* The severity of the packed lower-case word v of n letters (n > 8: "information" only). */
static int32_t level_of_packed(uint64_t v, const char *w, size_t n)
{
	if (n < 3 || n > LEVEL_WORD_MAX)
		return -1;
	if (n > 8)
		return n == 11 && v == packed("informat") && ((unsigned char)w[8] | 0x20) == 'i' &&
				       ((unsigned char)w[9] | 0x20) == 'o' && ((unsigned char)w[10] | 0x20) == 'n'
			       ? SEV_INFO
			       : -1;
	for (uint32_t k = word_slot(v); word_slots.word[k] != 0; k = (k + 1) % WORD_SLOTS) {
		if (word_slots.word[k] == v)
			return word_slots.sev[k];
	}
	return -1;
}

int32_t level_of_word(const char *w, size_t n)
{
	uint64_t v = 0;
	for (size_t i = 0; i < n; i++) {
		unsigned c = (unsigned char)w[i];
		if (!is_letter(c))
			return -1;
		if (i < 8)
			v |= (uint64_t)(c | 0x20) << (8 * i);
	}
	return level_of_packed(v, w, n);
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
static constexpr int is_code(char p)
{
	return p == ' ' || p == '_' || p == '$' || p == 'L' || p == 'C' || p == 'U' || p == '*' || p == 'T' ||
	       p == 'N';
}

/* The bytes that end a name (U, *): a blank or the NUL always, and the byte that follows it in
 * its pattern. Each such byte has a bit, so a scan tests one table entry per byte. */
enum { ENDS_ALWAYS = 1 };

static constexpr uint32_t end_bit(unsigned char b)
{
	switch (b) {
	case ':': return 2;
	case '|': return 4;
	case '[': return 8;
	case '-': return 16;
	case ']': return 32;
	default: return 0;
	}
}

struct NameEnds {
	uint8_t bits[256];
};

static constexpr NameEnds name_ends()
{
	NameEnds t = {};
	for (unsigned b = 0; b < 256; b++)
		t.bits[b] = (uint8_t)(b == 0 || b == ' ' || b == '\t' ? (uint32_t)ENDS_ALWAYS : end_bit((unsigned char)b));
	return t;
}

static constexpr NameEnds name_end = name_ends();

/* Every byte that follows a name in a pattern has its bit. */
static constexpr int name_ends_known()
{
	for (const LevelLayout &l : level_layouts) {
		for (const char *p = l.pattern; *p != '\0'; p++) {
			if (*p != 'U' && *p != '*')
				continue;
			char next = p[1] == '_' ? p[2] : p[1];
			if (next != '\0' && !is_code(next) && end_bit((unsigned char)next) == 0)
				return 0;
		}
	}
	return 1;
}
static_assert(name_ends_known(), "a byte that ends a name has no bit in end_bit");

/* The word read where a level may stand: several rows read it at the same place, once is enough. */
struct WordAt {
	size_t at, end;
	int32_t level;
};

/* Matches one pattern at c[i], which ends in a NUL (no code takes one). Returns the level it
 * reads, or -1; *unit_at and *unit_len get the logger. */
static int32_t match_level(const char *pattern, const unsigned char *c, size_t i, WordAt *word, size_t *unit_at,
			   size_t *unit_len)
{
	int32_t level = -1;
	for (const char *p = pattern; *p != '\0'; p++) {
		switch (*p) {
		case ' ':
			if (!is_blank(c[i]))
				return -1;
			/* fall through */
		case '_':
			while (is_blank(c[i]))
				i++;
			break;
		case '$':
			if (c[i] != '\0' && !is_blank(c[i]))
				return -1;
			break;
		case 'L':
			if (word->at != i) {
				/* The letters are folded and packed as they are read. */
				size_t a = i;
				uint64_t v = 0;
				for (; is_letter(c[i]) && i - a <= LEVEL_WORD_MAX; i++) {
					if (i - a < 8)
						v |= (uint64_t)(c[i] | 0x20) << (8 * (i - a));
				}
				word->at = a;
				word->end = i;
				/* «INFO2» or «info_x» is a name, not a level. */
				word->level = is_digit(c[i]) || c[i] == '_' ? -1 : level_of_packed(v, (const char *)c + a, i - a);
			}
			if ((level = word->level) < 0)
				return -1;
			i = word->end;
			break;
		case 'C':
			if ((level = logcat_level(c[i])) < 0)
				return -1;
			i++;
			break;
		case 'N':
			if (!is_digit(c[i]))
				return -1;
			while (is_digit(c[i]))
				i++;
			break;
		case 'T': {
			if (c[i] != '[')
				return -1;
			size_t a = ++i;
			while (c[i] != ']' && c[i] != '\0' && i - a < THREAD_SCAN_MAX)
				i++;
			if (c[i] != ']')
				return -1;
			i++;
			break;
		}
		case 'U':
		case '*': {
			/* A tag may stand right before its colon: «Tag: text» as well as «Tag  : text». */
			char next = p[1] == '_' ? p[2] : p[1];
			uint32_t ends = ENDS_ALWAYS | (next == '\0' || is_code(next) ? 0 : end_bit((unsigned char)next));
			size_t a = i;
			/* The head ends in a NUL, which ends every name. */
			while ((name_end.bits[c[i]] & ends) == 0)
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
			if (c[i] != (unsigned char)*p)
				return -1;
			i++;
			break;
		}
	}
	return level;
}

int32_t read_level_field(const char *head, size_t at, int after_ts, size_t *unit_at, size_t *unit_len)
{
	const unsigned char *c = (const unsigned char *)head;
	/* The blanks most rows open with are skipped once; the byte after them picks the rows. */
	size_t after = at;
	while (is_blank(c[after]))
		after++;
	uint32_t rows;
	if (!after_ts)
		rows = after == at ? row_masks.at_start[c[at]] : 0;
	else
		rows = after == at ? row_masks.after_ts[c[at]] : row_masks.after_blanks[c[after]];
	WordAt word = {(size_t)-1, 0, -1};
	for (; rows != 0; rows &= rows - 1) {
		const char *pattern = level_layouts[__builtin_ctz(rows)].pattern;
		if (pattern[0] == ' ')
			pattern++;
		size_t u_at = 0, u_len = 0;
		int32_t level = match_level(pattern, c, after, &word, &u_at, &u_len);
		if (level < 0)
			continue;
		if (u_len != 0) {
			*unit_at = u_at;
			*unit_len = u_len;
		}
		return level;
	}
	return SEV_UNCLASSIFIED;
}
