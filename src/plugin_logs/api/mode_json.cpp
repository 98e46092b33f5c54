/* The JSON API handler: parameters, line count, action dispatch, info and units. */
#include "plugin_logs/plugin_logs.h"
#include "platform.h"

#include <string.h>

enum {
	ACTION_PARAM_SIZE = 32,
	/* The raw value is cut before it is decoded: room for the longest id the catalogue
	 * holds with every byte percent-encoded, as a browser sends a path's non-ASCII bytes. */
	SRC_PARAM_SIZE = 3 * (SRC_ID_SIZE - 1) + 1,
	LINES_PARAM_SIZE = 16,
	Q_PARAM_SIZE = 256,
	FLAG_PARAM_SIZE = 8,
	SCOPE_PARAM_SIZE = 8,
	BEFORE_PARAM_SIZE = 32,
	/* Room for a cursor with every character percent-encoded and one byte more: a longer
	 * value is cut, and still refused as too long. */
	AFTER_PARAM_SIZE = 3 * CURSOR_TEXT_LEN + 2,
	UTC_TEXT_SIZE = 40
};

static const char SUPPORTED[] = "[\"sources\",\"tail\",\"search\",\"units\",\"info\"]";

/* atoi's reading (white space, sign, digits to the first non-digit), saturating instead of
 * overflowing, then clamped: 1..2000, 200 for nothing usable. */
static int32_t line_count(const char *text)
{
	if (text[0] == '\0')
		return LINES_DEFAULT;
	const char *p = text;
	while (*p == ' ' || (*p >= '\t' && *p <= '\r'))
		p++;
	int negative = 0;
	if (*p == '+' || *p == '-')
		negative = *p++ == '-';
	int64_t value = 0;
	for (; *p >= '0' && *p <= '9'; p++) {
		if (value <= LINES_MAX)
			value = value * 10 + (*p - '0');
	}
	if (negative || value <= 0)
		return LINES_DEFAULT;
	return value > LINES_MAX ? LINES_MAX : (int32_t)value;
}

/* A switch parameter: on for "1" or "true", off for anything else or nothing. */
static int flag_on(const char *qs, const char *key)
{
	char value[FLAG_PARAM_SIZE];
	get_query_val(qs, key, value, sizeof(value));
	return strcmp(value, "1") == 0 || strcmp(value, "true") == 0;
}

/* Reads since and until into r. Returns 1, or 0 after writing the "invalid_time" document for
 * the first that is not a moment. */
static int read_time_range(const char *qs, TimeRange *r)
{
	char since[TIME_PARAM_SIZE];
	char until[TIME_PARAM_SIZE];
	get_query_val(qs, "since", since, sizeof(since));
	get_query_val(qs, "until", until, sizeof(until));
	const char *bad = time_range_parse(r, since, until);
	if (bad == NULL)
		return 1;
	char echo[REQUESTED_ECHO_SIZE];
	echo_requested(echo, sizeof(echo), strcmp(bad, "since") == 0 ? since : until);
	json_header();
	out_printf("{\"ok\":false,\"error\":\"invalid_time\",\"message\":\"since and until take "
		   "YYYY-MM-DDTHH:MM[:SS]\",\"param\":\"%s\",\"value\":", bad);
	json_str(echo);
	out_printf("}\n");
	return 0;
}

/* A byte offset: decimal digits only, at most 18 of them. Returns -1 for anything else. */
static int64_t offset_value(const char *text)
{
	int64_t value = 0;
	size_t n = 0;
	for (; text[n] >= '0' && text[n] <= '9'; n++) {
		if (n == 18)
			return -1;
		value = value * 10 + (text[n] - '0');
	}
	return n == 0 || text[n] != '\0' ? -1 : value;
}

static void write_unknown_action(const char *action)
{
	char echo[REQUESTED_ECHO_SIZE];
	echo_requested(echo, sizeof(echo), action);
	json_header();
	out_printf("{\"ok\":false,\"error\":\"unknown_action\",\"supported\":%s,\"requested\":", SUPPORTED);
	json_str(echo);
	out_printf("}\n");
}

static void write_info(const char *utc)
{
	json_header();
	out_printf("{\"ok\":true,\"action\":\"info\",\"plugin\":\"%s\",\"version\":\"%s\",\"utc\":",
		   PL_IDENT, PL_VERSION);
	json_str(utc);
	out_printf(",\"platform\":\"%s\"", plat_name());
	out_printf(",\"limits\":{\"lines_max\":%d", LINES_MAX);
	out_printf(",\"search_hits_max\":%d", SEARCH_HITS_MAX);
	out_printf(",\"search_scan_max\":%d", SEARCH_SCAN_MAX);
	out_printf("},\"supported\":%s,\"zero_network\":true,\"read_only\":true,\"node_auth\":%s}\n",
		   SUPPORTED, node_auth_enabled() ? "true" : "false");
}

static void write_units(void)
{
	json_header();
	out_printf("{\"ok\":true,\"action\":\"units\",\"available\":false,\"count\":%d,\"units\":[]}\n", 0);
}

int mode_json(const char *qs)
{
	char action[ACTION_PARAM_SIZE];
	char src[SRC_PARAM_SIZE];
	char lines_text[LINES_PARAM_SIZE];
	char q[Q_PARAM_SIZE];
	get_query_val(qs, "action", action, sizeof(action));
	get_query_val(qs, "src", src, sizeof(src));
	get_query_val(qs, "lines", lines_text, sizeof(lines_text));
	get_query_val(qs, "q", q, sizeof(q));
	int32_t lines = line_count(lines_text);

	int is_tail = strcmp(action, "tail") == 0;
	int is_search = strcmp(action, "search") == 0;
	int is_sources = strcmp(action, "sources") == 0;
	int is_units = strcmp(action, "units") == 0;
	int is_info = strcmp(action, "info") == 0;
	int is_download = strcmp(action, "download") == 0;
	if (!(is_tail || is_search || is_sources || is_units || is_info || is_download)) {
		write_unknown_action(action);
		return 0;
	}

	char utc[UTC_TEXT_SIZE];
	plat_utc_text(utc, sizeof(utc));
	if (is_info) {
		write_info(utc);
		return 0;
	}

	SourceCatalogue cat;
	/* A tail or search prints only its own row's fields, so the walk may stop at it. */
	build_catalogue(&cat, is_sources || is_units ? NULL : src);
	if (is_sources) {
		write_sources(&cat, utc);
		return 0;
	}
	if (is_units) {
		write_units();
		return 0;
	}
	const LogSource *row = lookup_source(&cat, src);
	if (row == NULL)
		return 0;
	TimeRange range;
	time_range_parse(&range, "", "");
	if (!is_download && !read_time_range(qs, &range))
		return 0;
	char scope[SCOPE_PARAM_SIZE];
	char before[BEFORE_PARAM_SIZE];
	get_query_val(qs, "scope", scope, sizeof(scope));
	int before_given = get_query_val(qs, "before", before, sizeof(before));
	EntryRequest req = {lines, q, flag_on(qs, "multiline"), strcmp(scope, "file") == 0, -1, 0, before, NULL, &range};
	if (before_given) {
		req.before = offset_value(before);
		req.before_bad = req.before < 0;
	}
	/* A tail of a time range is no follower's: a cursor goes with the newest lines only. */
	char after[AFTER_PARAM_SIZE];
	if (get_query_val(qs, "after", after, sizeof(after)) && !time_range_active(&range))
		req.after = after;
	if (is_download)
		respond_download(row);
	else if (is_tail)
		respond_tail(row, &req, utc);
	else
		respond_search(row, &req, utc);
	return 0;
}
