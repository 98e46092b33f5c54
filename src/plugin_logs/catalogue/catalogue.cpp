/* The source table: appending rows and building the allowlist of one request. */
#include "plugin_logs/plugin_logs.h"
#include "platform.h"

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

/* Reads a root variable into dst. Returns 1 when it is defined and usable as a path: its
 * value fits and, as every id must be, is UTF-8. */
static int read_root_var(const char *name, char *dst, size_t dst_size)
{
	return plat_getenv(name, dst, dst_size) == 1 && utf8_valid_len(dst, strlen(dst)) == strlen(dst);
}

void build_catalogue(SourceCatalogue *cat, const char *want)
{
	char value[PATH_BUF];
	char first_root[PATH_BUF];
	char second_root[PATH_BUF];
	char sep = plat_sep();
	int32_t budget = WALK_BUDGET;

	/* Only the rows below count are ever read, and add_src writes each row whole: clearing the
	 * 180 KiB of rows would cost more than the rest of a tail. */
	cat->journal_available = 0;
	cat->count = 0;
	cat->truncated = 0;
	add_src(cat, "event:System", "Windows System log", "event", 0);
	add_src(cat, "event:Application", "Windows Application log", "event", 0);
	if (want != NULL && (strcmp(want, "event:System") == 0 || strcmp(want, "event:Application") == 0))
		return;

	first_root[0] = '\0';
	if (read_root_var("LOCALAPPDATA", value, sizeof(value)) && value[0] != '\0') {
		if (fmt_into(first_root, sizeof(first_root), "%s%cwendquil", value, sep))
			scan_root_until(cat, first_root, WALK_DEPTH, &budget, want);
		else
			first_root[0] = '\0';
	}
	if (read_root_var("USERPROFILE", value, sizeof(value)) &&
	    fmt_into(second_root, sizeof(second_root), "%s%cAppData%cLocal%cwendquil", value, sep, sep, sep)) {
		/* The usual installation names one folder twice; a second walk could only offer
		 * duplicates, spend the budget again and flag a full table falsely. */
		if (strcmp(first_root, second_root) != 0)
			scan_root_until(cat, second_root, WALK_DEPTH, &budget, want);
	}
}
