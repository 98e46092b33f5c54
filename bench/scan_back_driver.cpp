// The scanner's side of bench/scan.sh: searches a whole log backwards as a whole-file search
// request does (SEARCH_HITS_MAX hits, SCAN_BUDGET bytes) and prints the number of hit lines, as
// grep -c prints its count; lines and bytes examined go to standard error.
//
//   scan_back_driver FILE NEEDLE
#include <stdio.h>
#include <string.h>

#include "plugin_logs/plugin_logs.h"
#include "platform.h"

static int count_hit(void *ctx, const char *line, size_t len, int64_t offset)
{
	(void)line;
	(void)len;
	(void)offset;
	int32_t *hits = (int32_t *)ctx;
	return ++*hits < SEARCH_HITS_MAX;
}

int main(int argc, char **argv)
{
	if (argc != 3) {
		fprintf(stderr, "usage: scan_back_driver FILE NEEDLE\n");
		return 2;
	}
	PlatFileInfo info;
	FILE *f = plat_file_info(argv[1], &info) && !info.is_dir ? plat_log_open(argv[1]) : NULL;
	if (f == NULL) {
		fprintf(stderr, "scan_back_driver: cannot open %s\n", argv[1]);
		return 1;
	}
	int32_t hits = 0;
	ScanResult res;
	int rc = scan_back(f, 0, info.size, argv[2], strlen(argv[2]), SCAN_BUDGET, count_hit, &hits, &res);
	fclose(f);
	if (rc != 0) {
		fprintf(stderr, "scan_back_driver: scan failed (%d)\n", rc);
		return 1;
	}
	printf("%d\n", hits);
	fprintf(stderr, "lines %lld, searched %lld bytes, next_before %lld\n", (long long)res.lines,
		(long long)res.searched_bytes, (long long)res.next_before);
	return 0;
}
