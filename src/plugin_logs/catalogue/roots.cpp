/* The roots of the walk: their texts from the environment, their final paths, and what lies
 * inside them. */
#include "plugin_logs/plugin_logs.h"
#include "platform.h"

#include <string.h>

/* Reads a root variable into dst. Returns 1 when it is defined and usable as a path: its
 * value fits and, as every id must be, is UTF-8. */
static int read_root_var(const char *name, char *dst, size_t dst_size)
{
	return plat_getenv(name, dst, dst_size) == 1 && utf8_valid_len(dst, strlen(dst)) == strlen(dst);
}

void log_roots(LogRoots *r)
{
	char value[PATH_BUF];
	char sep = plat_sep();
	r->defined = 0;
	r->count = 0;
	if (read_root_var("LOCALAPPDATA", value, sizeof(value)) && value[0] != '\0') {
		r->defined = 1;
		if (fmt_into(r->text[r->count], sizeof(r->text[0]), "%s%cwendquil", value, sep))
			r->count++;
	}
	if (read_root_var("USERPROFILE", value, sizeof(value))) {
		r->defined = 1;
		char *second = r->text[r->count];
		/* The usual installation names one folder twice; it is one root. */
		if (fmt_into(second, sizeof(r->text[0]), "%s%cAppData%cLocal%cwendquil", value, sep, sep, sep) &&
		    (r->count == 0 || strcmp(r->text[0], second) != 0))
			r->count++;
	}
	for (int32_t i = 0; i < r->count; i++)
		plat_real_path(r->text[i], r->real[i], sizeof(r->real[i]));
}

int log_roots_call_path(const LogRoots *r, const char *path, char *dst, size_t dst_size)
{
	dst[0] = '\0';
	for (int32_t i = 0; i < r->count; i++) {
		size_t n = strlen(r->text[i]);
		if (r->real[i][0] == '\0' || strncmp(path, r->text[i], n) != 0 || path[n] != plat_sep())
			continue;
		/* The rest holds the names the walk listed, joined by separators. */
		if (fmt_into(dst, dst_size, "%s%s", r->real[i], path + n))
			return 1;
		dst[0] = '\0';
		return 0;
	}
	return 0;
}

int log_roots_allow(const LogRoots *r, const char *real)
{
	if (!r->defined)
		return 1;
	for (int32_t i = 0; i < r->count; i++) {
		if (r->real[i][0] != '\0' && plat_path_within(r->real[i], real))
			return 1;
	}
	return 0;
}
