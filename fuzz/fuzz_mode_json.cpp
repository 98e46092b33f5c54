/* The whole JSON request handler in process, for any query string over a small fixture tree:
 * one header block, then one JSON document that parses. */
#include "plugin_logs/plugin_logs.h"
#include "capture.h"
#include "json_check.h"

#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>

static const char HEADER[] = "Content-Type: application/json; charset=utf-8\r\n"
			     "Cache-Control: no-store\r\n"
			     "X-Content-Type-Options: nosniff\r\n"
			     "\r\n";

static void write_file(const std::string &path, const std::string &body)
{
	FILE *f = fopen(path.c_str(), "wb");
	if (f == NULL)
		abort();
	fwrite(body.data(), 1, body.size(), f);
	fclose(f);
}

/* A tree at a fixed place (so seeds can name its files): plain, syslog, ISO and hostile lines, a
 * nested log and a directory that looks like a log. */
static void make_fixture(void)
{
	const char *base = "/tmp/pl_fuzz_tree";
	mkdir(base, 0755);
	std::string root = std::string(base) + "/wendquil";
	mkdir(root.c_str(), 0755);
	mkdir((root + "/sub").c_str(), 0755);
	mkdir((root + "/dir.log").c_str(), 0755);
	write_file(root + "/app.log",
		   "Jan  2 03:04:05 host svc[1]: started\n"
		   "2024-01-02T03:04:05.123Z error: disk \"full\"\n"
		   "plain warning line\r\n"
		   "bad utf8 \xff\xfe \x1b[31mred\x1b[0m tab\there\n"
		   "nul \0 inside\n");
	write_file(root + "/sub/deep.log", "2024-05-06 07:08:09 warn something\n");
	write_file(root + "/empty.log", "");
	setenv("LOCALAPPDATA", base, 1);
	unsetenv("USERPROFILE");
	unsetenv("ZUN_PASSWORD");
	/* No event command can be found, so event sources fail fast and nothing real runs. */
	setenv("PATH", "/nonexistent", 1);
}

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
	make_fixture();
	return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
	std::string qs((const char *)data, size);
	qs.resize(strlen(qs.c_str()));
	capture_begin();
	if (mode_json(qs.c_str()) != 0)
		abort();
	std::string out = capture_end();
	const size_t head = sizeof(HEADER) - 1;
	if (out.size() < head || out.compare(0, head, HEADER) != 0)
		abort();
	/* One document of valid UTF-8 (log bytes that are not UTF-8 are repaired, as are request
	 * values), ended by exactly one newline. */
	if (out.size() < head + 2 || out.back() != '\n')
		abort();
	std::string body = out.substr(head, out.size() - head - 1);
	if (body.find('\n') != std::string::npos || !json_valid(body.data(), body.size(), 0))
		abort();
	return 0;
}
