/* The sink both event fuzz targets deliver to: every field terminated inside its array, a
 * severity of 0 to 2, and a count of what arrived. */
#ifndef PL_FUZZ_ENTRY_CHECK_H
#define PL_FUZZ_ENTRY_CHECK_H

#include "plugin_logs/plugin_logs.h"

#include <stdlib.h>
#include <string.h>

struct Seen {
	int32_t delivered;
};

static void check_entry(void *ctx, const LogEntry *e)
{
	if (memchr(e->ts, '\0', sizeof(e->ts)) == NULL || memchr(e->unit, '\0', sizeof(e->unit)) == NULL ||
	    memchr(e->text, '\0', sizeof(e->text)) == NULL)
		abort();
	if (e->sev < SEV_INFO || e->sev > SEV_ERR)
		abort();
	((Seen *)ctx)->delivered++;
}

#endif
