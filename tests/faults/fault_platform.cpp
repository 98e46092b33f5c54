/* The POSIX platform layer with plat_file_info, plat_log_open and plat_log_size wrapped so a
 * test can change the file between the catalogue and the read. Linked only into the fault
 * tests. */
#define plat_file_info real_plat_file_info
#define plat_log_open real_plat_log_open
#define plat_log_size real_plat_log_size
#include "../../src/plugin_logs/platform/platform_posix.cpp"
#undef plat_file_info
#undef plat_log_open
#undef plat_log_size

#include "fault_platform.h"

#include <errno.h>
#include <string>
#include <unistd.h>

int plat_file_info(const char *path, PlatFileInfo *out);
FILE *plat_log_open(const char *path);
int plat_log_size(FILE *f, int64_t *size);

namespace {

/* Test-only state: one armed fault per process. */
struct Armed {
	std::string path;
	FILE *opened = NULL; /* the armed path's stream, once opened */
	FaultAction action = FAULT_NONE;
	FaultMoment moment = AT_READER_INFO;
	int info_calls = 0;
};

Armed armed;

void write_all(const std::string &path, const std::string &body)
{
	FILE *f = fopen(path.c_str(), "wb");
	if (f == NULL)
		return;
	fwrite(body.data(), 1, body.size(), f);
	fclose(f);
}

/* Carries out the armed action now; returns 1 when the open must fail. */
int fire(void)
{
	FaultAction a = armed.action;
	armed.action = FAULT_NONE;
	const std::string &p = armed.path;
	switch (a) {
	case FAULT_DELETE:
		unlink(p.c_str());
		break;
	case FAULT_TRUNCATE:
		if (truncate(p.c_str(), 0) != 0)
			return 0;
		break;
	case FAULT_SHRINK:
		if (truncate(p.c_str(), 7) != 0)
			return 0;
		break;
	case FAULT_REPLACE:
		write_all(p + ".new", "2024-01-01T00:00:00Z replaced\n");
		rename((p + ".new").c_str(), p.c_str());
		break;
	case FAULT_GROW: {
		std::string body;
		for (int i = 0; i < 120000; i++)
			body += "2024-01-01T00:00:00Z grown line after the listing, long enough\n";
		write_all(p + ".new", body);
		rename((p + ".new").c_str(), p.c_str());
		break;
	}
	case FAULT_DIRECTORY:
		unlink(p.c_str());
		mkdir(p.c_str(), 0755);
		break;
	case FAULT_DENY:
		return 1;
	case FAULT_APPEND: {
		FILE *f = fopen(p.c_str(), "ab");
		if (f == NULL)
			return 0;
		for (int i = 0; i < 1000; i++)
			fputs("2024-01-01T00:00:00Z appended while it was read\n", f);
		fclose(f);
		break;
	}
	case FAULT_LINK_OUT: {
		/* Next to the data folder (the log is <dir>/wendquil/app.log), outside it. */
		std::string secret = p.substr(0, p.rfind('/'));
		secret = secret.substr(0, secret.rfind('/')) + "/" FAULT_SECRET_NAME;
		write_all(secret, "2024-01-01T00:00:00Z " FAULT_SECRET_TEXT "\n");
		unlink(p.c_str());
		if (symlink(secret.c_str(), p.c_str()) != 0)
			return 0;
		break;
	}
	case FAULT_NONE:
		break;
	}
	return 0;
}

} // namespace

void fault_arm(const char *path, FaultAction action, FaultMoment moment)
{
	armed.path = path;
	armed.action = action;
	armed.moment = moment;
	armed.info_calls = 0;
	armed.opened = NULL;
}

int plat_file_info(const char *path, PlatFileInfo *out)
{
	/* The catalogue looks through plat_file_within; this is the reader's own look. */
	if (armed.action != FAULT_NONE && armed.path == path && ++armed.info_calls == 1 &&
	    armed.moment == AT_READER_INFO && fire()) {
		return 0;
	}
	return real_plat_file_info(path, out);
}

FILE *plat_log_open(const char *path)
{
	if (armed.action != FAULT_NONE && armed.path == path && armed.moment == AT_OPEN && fire()) {
		errno = EACCES;
		return NULL;
	}
	FILE *f = real_plat_log_open(path);
	if (f != NULL && armed.action != FAULT_NONE && armed.path == path && armed.moment == AFTER_OPEN &&
	    fire()) {
		fclose(f);
		errno = EACCES;
		return NULL;
	}
	if (armed.path == path)
		armed.opened = f;
	return f;
}

int plat_log_size(FILE *f, int64_t *size)
{
	int ok = real_plat_log_size(f, size);
	if (armed.action != FAULT_NONE && armed.opened == f && f != NULL && armed.moment == AFTER_SIZE)
		fire();
	return ok;
}
