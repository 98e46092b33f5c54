/* The bounded depth-first walk that finds ".log" files under one root. */
#include "plugin_logs/plugin_logs.h"
#include "platform.h"

#include <string.h>

static int is_log_name(const char *name)
{
	size_t n = strlen(name);
	return n > 4 && memcmp(name + n - 4, ".log", 4) == 0;
}

/* The text after the last '/' or '\\' of path. */
static const char *base_name(const char *path)
{
	const char *label = path;
	for (const char *p = path; *p != '\0'; p++) {
		if (*p == '/' || *p == '\\')
			label = p + 1;
	}
	return label;
}

/* Joins dir[0..dir_len), sep and name[0..name_len) into dst. Returns 0, dst untouched, when
 * the result would not fit in dst_size-1 bytes: cut, it would name another file. */
static int join(char *dst, size_t dst_size, const char *dir, size_t dir_len, char sep, const char *name,
		size_t name_len)
{
	if (dir_len + 1 + name_len + 1 > dst_size)
		return 0;
	memcpy(dst, dir, dir_len);
	dst[dir_len] = sep;
	memcpy(dst + dir_len + 1, name, name_len + 1);
	return 1;
}

/* Walks dir, whose final path is real_root or lies inside it; file calls go to call_dir, the
 * same folder reached from the root's final path, so listed names are taken literally. */
static void walk(SourceCatalogue *cat, const char *real_root, const char *dir, const char *call_dir, int32_t depth,
		 int32_t *budget, const char *want)
{
	size_t dir_len = strlen(dir);
	size_t call_len = strlen(call_dir);
	/* The listing pattern "dir\*" must fit in 1024 bytes. */
	if (*budget <= 0 || dir_len == 0 || dir_len + 3 > PATH_BUF - 1)
		return;

	PlatDir d;
	PlatDirEntry ent;
	if (!plat_dir_open(&d, call_dir))
		return;
	char path[PATH_BUF];
	char call[CALL_PATH_BUF];
	char real[CALL_PATH_BUF];
	char id[SRC_ID_SIZE];
	char sep = plat_sep();
	while (plat_dir_next(&d, &ent)) {
		if (strcmp(ent.name, ".") == 0 || strcmp(ent.name, "..") == 0)
			continue;
		/* Every entry met costs budget, whatever it is; the walk ends when it runs out. */
		if (--*budget <= 0) {
			cat->truncated = 1;
			break;
		}
		/* A name the platform could not give exactly in UTF-8 makes an id that no
		 * document can carry and no request can name: it is neither listed nor entered. */
		if (!ent.name_ok)
			continue;
		/* A joined path that would not fit is skipped, never cut: cut, it would name
		 * another file or folder. Neither is formed for a name that is not looked at. */
		size_t name_len = strlen(ent.name);
		if (dir_len + name_len + 2 > PATH_BUF - 1 || !(ent.is_dir ? depth != 0 : is_log_name(ent.name)) ||
		    !join(call, sizeof(call), call_dir, call_len, sep, ent.name, name_len))
			continue;
		join(path, sizeof(path), dir, dir_len, sep, ent.name, name_len);
		/* Whoever may write a data folder must not read, through this program, what only
		 * the web server's account may: a link, junction or other reparse point is followed
		 * only where it leads to a place inside the root, and the walk goes on below that
		 * place's own final path. */
		PlatFileInfo info;
		if (ent.is_dir) {
			if (plat_file_within(call, real_root, &info, real, sizeof(real)) && info.is_dir)
				walk(cat, real_root, path, real, depth - 1, budget, want);
			/* Spent below, or the wanted row found there: either way this level ends too,
			 * as its next entry would end it. */
			if (*budget <= 0)
				break;
			continue;
		}
		/* A full table does not stop the walk: every further candidate flags it again. */
		if (cat->count > CATALOGUE_ROWS - 1) {
			cat->truncated = 1;
			continue;
		}
		/* "file:" and the path must fit the identifier whole: a cut path would name
		 * another file. */
		if (dir_len + 1 + name_len + 6 > SRC_ID_SIZE - 1)
			continue;
		/* Asked of the file itself, not taken from the listing: the entry may have gone or
		 * become a link, and a listing's size can lag behind a log that is being written. */
		if (!plat_file_within(call, real_root, &info, real, sizeof(real)) || info.is_dir)
			continue;
		memcpy(id, "file:", 5);
		memcpy(id + 5, path, dir_len + 1 + name_len + 1);
		int32_t before = cat->count;
		add_src(cat, id, base_name(path), "file", info.size, info.mtime);
		/* The rest of the walk cannot change that row: stop every level, and leave
		 * truncated alone, since nothing was left out for want of room. */
		if (want != NULL && cat->count > before && strcmp(id, want) == 0) {
			*budget = 0;
			break;
		}
	}
	plat_dir_close(&d);
}

void scan_root_within(SourceCatalogue *cat, const char *dir, const char *real, int32_t depth, int32_t *budget,
		      const char *want)
{
	walk(cat, real, dir, real, depth, budget, want);
}

void scan_root(SourceCatalogue *cat, const char *dir, int32_t depth, int32_t *budget)
{
	char real[CALL_PATH_BUF];
	if (dir[0] != '\0' && plat_real_path(dir, real, sizeof(real)))
		walk(cat, real, dir, real, depth, budget, NULL);
}
