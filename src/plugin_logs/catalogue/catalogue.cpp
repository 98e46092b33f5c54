/* The source table: appending rows and building the allowlist of one request. */
#include "plugin_logs/plugin_logs.h"
#include "platform.h"

#include <string.h>

/* Copies src into dst, cut to dst_size-1 bytes, and terminates it: the bounded "%s" copy
 * without a format's cost, which the walk pays for every file. */
static void copy_cut(char *dst, size_t dst_size, const char *src)
{
	size_t n = strnlen(src, dst_size - 1);
	memcpy(dst, src, n);
	dst[n] = '\0';
}

void add_src(SourceCatalogue *cat, const char *id, const char *label, const char *kind, int64_t size,
	     int64_t mtime)
{
	/* Full before duplicate: offering a present id to a full table still sets the flag. */
	if (cat->count > CATALOGUE_ROWS - 1) {
		cat->truncated = 1;
		return;
	}
	for (int32_t i = 0; i < cat->count; i++) {
		if (strcmp(cat->sources[i].id, id) == 0)
			return;
	}
	LogSource *row = &cat->sources[cat->count];
	copy_cut(row->id, sizeof(row->id), id);
	copy_text_cut(row->label, sizeof(row->label), label, strlen(label));
	copy_cut(row->kind, sizeof(row->kind), kind);
	row->size = size;
	row->mtime = mtime;
	cat->count++;
}

void build_catalogue(SourceCatalogue *cat, const char *want)
{
	int32_t budget = WALK_BUDGET;

	/* Only the rows below count are ever read, and add_src writes each row whole: clearing the
	 * 180 KiB of rows would cost more than the rest of a tail. */
	cat->journal_available = 0;
	cat->count = 0;
	cat->truncated = 0;
	add_src(cat, "event:System", "Windows System log", "event", 0, 0);
	add_src(cat, "event:Application", "Windows Application log", "event", 0, 0);
	if (want != NULL && (strcmp(want, "event:System") == 0 || strcmp(want, "event:Application") == 0))
		return;

	/* A root that does not exist (no final path) has nothing to list. */
	LogRoots roots;
	log_roots(&roots);
	for (int32_t i = 0; i < roots.count; i++) {
		if (roots.real[i][0] != '\0')
			scan_root_within(cat, roots.text[i], roots.real[i], WALK_DEPTH, &budget, want);
	}
}
