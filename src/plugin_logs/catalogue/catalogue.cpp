/* The source table: appending rows and building the allowlist of one request. */
#include "plugin_logs/plugin_logs.h"
#include "platform.h"

#include <stdlib.h>
#include <string.h>

void add_src(SourceCatalogue *cat, const char *id, const char *label, const char *kind, int64_t size)
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
	fmt_into(row->id, sizeof(row->id), "%s", id);
	copy_text_cut(row->label, sizeof(row->label), label, strlen(label));
	fmt_into(row->kind, sizeof(row->kind), "%s", kind);
	row->size = size;
	row->mtime = 0;
	cat->count++;
}

void build_catalogue(SourceCatalogue *cat, const char *want)
{
	char first_root[PATH_BUF];
	char second_root[PATH_BUF];
	char sep = plat_sep();
	int32_t budget = WALK_BUDGET;
	const char *local = getenv("LOCALAPPDATA");

	memset(cat, 0, sizeof(*cat));
	add_src(cat, "event:System", "Windows System log", "event", 0);
	add_src(cat, "event:Application", "Windows Application log", "event", 0);
	if (want != NULL && (strcmp(want, "event:System") == 0 || strcmp(want, "event:Application") == 0))
		return;

	first_root[0] = '\0';
	if (local != NULL && local[0] != '\0') {
		if (fmt_into(first_root, sizeof(first_root), "%s%cwendquil", local, sep))
			scan_root_until(cat, first_root, WALK_DEPTH, &budget, want);
		else
			first_root[0] = '\0';
	}
	const char *profile = getenv("USERPROFILE");
	if (profile != NULL &&
	    fmt_into(second_root, sizeof(second_root), "%s%cAppData%cLocal%cwendquil", profile, sep, sep, sep)) {
		/* The usual installation names one folder twice; a second walk could only offer
		 * duplicates, spend the budget again and flag a full table falsely. */
		if (strcmp(first_root, second_root) != 0)
			scan_root_until(cat, second_root, WALK_DEPTH, &budget, want);
	}
}
