/* The node password gate that every CGI request passes first. */
#include "plugin_logs/plugin_logs.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

enum { PWD_PARAM_SIZE = 256 };

/* Compares without stopping at the first difference, so the time taken does not tell an
 * attacker how much of a guess was right; only the lengths may show. */
static int secret_equals(const char *given, const char *secret)
{
	size_t given_len = strlen(given);
	size_t secret_len = strlen(secret);
	unsigned diff = given_len == secret_len ? 0u : 1u;
	for (size_t i = 0; i < secret_len; i++) {
		unsigned char g = i < given_len ? (unsigned char)given[i] : 0u;
		diff |= (unsigned)(g ^ (unsigned char)secret[i]);
	}
	return diff == 0;
}

/* Matches "  Bearer   <password>": leading and separating spaces only, case-sensitive. */
static int bearer_matches(const char *value, const char *secret)
{
	const char *p = value;
	while (*p == ' ')
		p++;
	if (strncmp(p, "Bearer ", 7) != 0)
		return 0;
	p += 7;
	while (*p == ' ')
		p++;
	return secret_equals(p, secret);
}

int node_auth_enabled(void)
{
	const char *secret = getenv("ZUN_PASSWORD");
	return secret != NULL && secret[0] != '\0';
}

void require_node_auth(void)
{
	static const char refusal[] = "Status: 401 Unauthorized\r\n"
				      "Content-Type: application/json; charset=utf-8\r\n"
				      "Cache-Control: no-store\r\n"
				      "X-Content-Type-Options: nosniff\r\n"
				      "\r\n"
				      "{\"ok\":false,\"error\":\"invalid node password\"}\n";
	const char *secret = getenv("ZUN_PASSWORD");
	if (secret == NULL || secret[0] == '\0')
		return;

	const char *header = getenv("HTTP_X_ZUN_PASSWORD");
	if (header != NULL && secret_equals(header, secret))
		return;

	const char *authz = getenv("HTTP_AUTHORIZATION");
	if (authz != NULL && bearer_matches(authz, secret))
		return;

	const char *qs = getenv("QUERY_STRING");
	if (qs != NULL) {
		char pwd[PWD_PARAM_SIZE];
		if (get_query_val(qs, "pwd", pwd, sizeof(pwd)) && secret_equals(pwd, secret))
			return;
	}

	/* The one helper that ends the process: a refused request gets nothing else. */
	out_write(refusal, sizeof(refusal) - 1);
	fflush(stdout);
	exit(0);
}
