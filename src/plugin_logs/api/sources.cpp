/* The sources document and the lookup that enforces the read allowlist. */
#include "plugin_logs/plugin_logs.h"

#include <string.h>

void echo_requested(char *dst, size_t dst_size, const char *value)
{
	/* Only a short, bounded copy of what was asked for, and UTF-8 like all of a document:
	 * the query's bytes are whatever the client sent. */
	utf8_repair(value, strlen(value), dst, dst_size);
}

void write_sources(const SourceCatalogue *cat, const char *utc)
{
	json_header();
	out_printf("{\"ok\":true,\"action\":\"sources\",\"plugin\":\"%s\",\"utc\":", PL_IDENT);
	json_str(utc);
	out_printf(",\"journal_available\":%s,\"count\":%d,\"truncated\":%s,\"sources\":[",
		   cat->journal_available ? "true" : "false", cat->count,
		   cat->truncated ? "true" : "false");
	for (int32_t i = 0; i < cat->count; i++) {
		const LogSource *s = &cat->sources[i];
		out_printf(i == 0 ? "{\"id\":" : ",{\"id\":");
		json_str(s->id);
		out_printf(",\"label\":");
		json_str(s->label);
		out_printf(",\"kind\":");
		json_str(s->kind);
		out_printf(",\"size\":%lld,\"mtime\":%lld}", (long long)s->size, (long long)s->mtime);
	}
	out_printf("]}\n");
}

const LogSource *lookup_source(const SourceCatalogue *cat, const char *src)
{
	if (src[0] != '\0') {
		for (int32_t i = 0; i < cat->count; i++) {
			if (strcmp(cat->sources[i].id, src) == 0)
				return &cat->sources[i];
		}
	}
	char echo[REQUESTED_ECHO_SIZE];
	echo_requested(echo, sizeof(echo), src);
	json_header();
	out_printf("{\"ok\":false,\"error\":\"source_not_allowed\",\"message\":\"that path is not in this "
		   "plugin's read allowlist; call action=sources for the current list\",\"requested\":");
	json_str(echo);
	out_printf("}\n");
	return NULL;
}
