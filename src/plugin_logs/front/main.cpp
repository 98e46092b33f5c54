/* Entry point: command-line flags, plug-in metadata, the gate, then JSON API or page. */
#include "plugin_logs/plugin_logs.h"
#include "platform.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

enum { EMBED_PARAM_SIZE = 16, STDOUT_BUFFER_SIZE = 1 << 16 };

static void write_usage(void)
{
	static const char *const rows[][2] = {
		{"?action=sources", "readable log sources"},
		{"?action=tail&src=<id>&lines=<N>", "last N entries of a source"},
		{"?action=search&src=<id>&q=<text>", "case-insensitive substring search"},
		{"?action=units", "systemd units with journal entries"},
		{"?action=info", "plugin info"},
		{"(no action)", "HTML log viewer"},
	};
	out_printf("usage: %s [--meta] [--version] [--help]\n", PL_IDENT);
	out_printf("  CGI mode reads QUERY_STRING:\n");
	for (size_t i = 0; i < sizeof(rows) / sizeof(rows[0]); i++)
		out_printf("    %-33s%s\n", rows[i][0], rows[i][1]);
}

static void write_meta(void)
{
	out_printf("{\"name\":\"logs\",\"desc\":\"Log viewer\"}\n");
}

/* Answers the first recognised flag. Returns 1 when one was answered. */
static int answer_flag(int argc, char **argv)
{
	for (int i = 1; i < argc; i++) {
		if (strcmp(argv[i], "--meta") == 0) {
			write_meta();
			return 1;
		}
		if (strcmp(argv[i], "--version") == 0) {
			out_printf("%s %s\n", PL_IDENT, PL_VERSION);
			return 1;
		}
		if (strcmp(argv[i], "--help") == 0) {
			write_usage();
			return 1;
		}
	}
	return 0;
}

static int serve(int argc, char **argv)
{
	if (answer_flag(argc, argv))
		return 0;
	char meta[2];
	/* Defined is enough, whatever its value (-1: one too long for the buffer). */
	if (plat_getenv("WQ_PLUGIN_META", meta, sizeof(meta)) != 0) {
		write_meta();
		return 0;
	}
	require_node_auth();

	/* Sized for the longest value, so that nothing of a request is cut away unseen; a value
	 * that cannot be read is no request at all, like a missing one. */
	char qs[PLAT_ENV_VALUE_SIZE];
	plat_getenv("QUERY_STRING", qs, sizeof(qs));
	/* Plain substring tests on the raw text, not parameter lookups. */
	if (strstr(qs, "action=") != NULL || strstr(qs, "format=json") != NULL)
		return mode_json(qs);

	char embed[EMBED_PARAM_SIZE];
	get_query_val(qs, "embed", embed, sizeof(embed));
	int embedded = strcmp(embed, "1") == 0 || strcmp(embed, "true") == 0;
	return mode_html(embedded);
}

int main(int argc, char **argv)
{
	/* One large buffer: a document leaves in a few writes instead of one per piece. It holds
	 * what a pipe holds: a bigger document cannot pass the pipe in one piece anyway, and
	 * every further page of buffer is one more fault to take. */
	static_assert(STDOUT_BUFFER_SIZE > 0, "buffer");
	char *outbuf = (char *)malloc(STDOUT_BUFFER_SIZE);
	plat_stdout_binary();
	if (outbuf != NULL)
		setvbuf(stdout, outbuf, _IOFBF, STDOUT_BUFFER_SIZE);
	int rc = serve(argc, argv);
	fflush(stdout);
	return rc;
}
