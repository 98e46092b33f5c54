/* The download: a log file's bytes as they are on disk, whole, as an attachment. */
#include "plugin_logs/plugin_logs.h"
#include "platform.h"

#include <stdio.h>
#include <string.h>

enum {
	/* The file leaves in blocks of this size: never the whole of it in memory. */
	DOWNLOAD_BLOCK_SIZE = 65536,
	/* A label of 95 bytes, each of which may become three in the encoded form. */
	QUOTED_NAME_SIZE = SRC_LABEL_SIZE,
	ENCODED_NAME_SIZE = 3 * SRC_LABEL_SIZE
};

/* label for the quoted filename parameter, which old clients read as bytes of some local code
 * page: ASCII only, each control byte, quote, backslash and each character beyond ASCII (or
 * invalid sequence) one "_", so nothing can end the quotes or the header line. */
static void quoted_name(char *dst, size_t dst_size, const char *label)
{
	size_t len = strlen(label);
	size_t n = 0;
	for (size_t i = 0; i < len && n + 1 < dst_size;) {
		unsigned char c = (unsigned char)label[i];
		if (c >= 0x80) {
			int k = utf8_seq(label + i, len - i);
			i += (size_t)(k > 0 ? k : -k);
			dst[n++] = '_';
			continue;
		}
		dst[n++] = c < 0x20 || c == 0x7F || c == '"' || c == '\\' ? '_' : (char)c;
		i++;
	}
	dst[n] = '\0';
}

/* 1 for the attr-chars of RFC 5987, which the extended parameter carries as they are. */
static int is_attr_char(unsigned char c)
{
	return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
	       (c != '\0' && strchr("!#$&+-.^_`|~", c) != NULL);
}

/* label percent-encoded for filename*=UTF-8'': the exact name, whatever it holds. */
static void encoded_name(char *dst, size_t dst_size, const char *label)
{
	static const char hex[] = "0123456789ABCDEF";
	size_t n = 0;
	for (const unsigned char *p = (const unsigned char *)label; *p != '\0' && n + 4 <= dst_size; p++) {
		if (is_attr_char(*p)) {
			dst[n++] = (char)*p;
			continue;
		}
		dst[n++] = '%';
		dst[n++] = hex[*p >> 4];
		dst[n++] = hex[*p & 15];
	}
	dst[n] = '\0';
}

static void write_unreadable(const LogSource *row)
{
	json_header();
	out_printf("{\"ok\":false,\"error\":\"unreadable_source\",\"message\":\"the source could not be read on this "
		   "node\",\"src\":");
	json_str(row->id);
	out_printf("}\n");
}

void respond_download(const LogSource *row)
{
	if (strncmp(row->id, "file:", 5) != 0) {
		json_header();
		out_printf("{\"ok\":false,\"error\":\"unsupported_source\",\"message\":\"download reads log files "
			   "only\",\"src\":");
		json_str(row->id);
		out_printf("}\n");
		return;
	}
	/* The size is the open file's own: the path may name another file by now. */
	FILE *f = plat_log_open(row->id + 5);
	int64_t size = 0;
	if (f == NULL || !plat_log_size(f, &size)) {
		if (f != NULL)
			fclose(f);
		write_unreadable(row);
		return;
	}
	char quoted[QUOTED_NAME_SIZE];
	char encoded[ENCODED_NAME_SIZE + 1];
	quoted_name(quoted, sizeof(quoted), row->label);
	encoded_name(encoded, sizeof(encoded), row->label);
	out_printf("Content-Type: application/octet-stream\r\n"
		   "Content-Disposition: attachment; filename=\"%s\"; filename*=UTF-8''%s\r\n"
		   "Content-Length: %lld\r\n"
		   "X-Content-Type-Options: nosniff\r\n"
		   "Cache-Control: no-store\r\n"
		   "\r\n",
		   quoted, encoded, (long long)size);

	/* What was there at opening, and no more: a log that grows is cut at that size, so the
	 * body matches Content-Length. One that shrinks ends early, short of it; the headers are
	 * gone by then, and a short body is the honest answer. */
	char block[DOWNLOAD_BLOCK_SIZE];
	for (int64_t left = size; left > 0;) {
		size_t want = left < (int64_t)sizeof(block) ? (size_t)left : sizeof(block);
		size_t got = fread(block, 1, want, f);
		if (got == 0)
			break;
		out_write(block, got);
		left -= (int64_t)got;
		/* The server stopped taking the body (the client went away): reading on would only
		 * cost the disk. */
		if (ferror(stdout))
			break;
	}
	fclose(f);
}
