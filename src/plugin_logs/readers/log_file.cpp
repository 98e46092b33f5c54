/* The log file reader: the last 4 MiB of a file, line by line, into the collectors. */
#include "plugin_logs/plugin_logs.h"
#include "platform.h"

#include <stdio.h>
#include <string.h>

enum { LINE_BUF_SIZE = 2048 };

static const int64_t TAIL_WINDOW = 4194304;

int32_t read_log_file(const char *path, const char *query, EntryCollector *ring,
		      EntryCollector *hits, int32_t hit_capacity)
{
	PlatFileInfo info;
	if (!plat_file_info(path, &info) || info.is_dir)
		return -1;
	FILE *f = plat_log_open(path);
	if (f == NULL)
		return -1;
	/* 64-bit throughout: the window is the last 4 MiB whatever the file's size. */
	int64_t start = info.size > TAIL_WINDOW ? info.size - TAIL_WINDOW : 0;
	if (start > 0 && plat_seek(f, start) != 0) {
		fclose(f);
		return -1;
	}
	int cut = start > 0;
	int filter = query != NULL && query[0] != '\0';

	char line[LINE_BUF_SIZE];
	LogEntry entry;
	int32_t handled = 0;
	while (fgets(line, sizeof(line), f) != NULL) {
		size_t len = strlen(line);
		/* The window began inside a line: drop chunks up to its first line end. */
		if (cut && handled == 0 && len != 0 && line[len - 1] != '\n')
			continue;
		if (hits != NULL && handled >= SEARCH_SCAN_MAX)
			break;
		parse_log_line(&entry, line, len);
		/* Classified when printed: the severity never decides what is kept. */
		entry.sev = SEV_UNCLASSIFIED;
		handled++;
		if (filter && !ci_contains(entry.text, query) && !ci_contains(entry.unit, query) &&
		    !ci_contains(entry.ts, query))
			continue;
		if (ring != NULL)
			ring_push(ring, &entry);
		if (hits != NULL)
			hits_push(hits, &entry, hit_capacity);
	}
	fclose(f);
	return handled;
}
