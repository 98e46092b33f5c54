/* The node password gate that every CGI request passes first. */
#include "plugin_logs/plugin_logs.h"
#include "platform.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

/* The password and the two headers: a web server takes about 8 KiB for one header line. The
 * pwd value is compared up to PWD_VALUE_MAX bytes; its raw form is read with room for every one
 * of them percent-encoded, which is how the page sends a password beyond ASCII. */
enum { PWD_VALUE_MAX = 255, PWD_PARAM_SIZE = 3 * PWD_VALUE_MAX + 1, CREDENTIAL_SIZE = 8192 };

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

/* Reads ZUN_PASSWORD into secret. Returns 1 when the gate is on: the variable is defined and
 * not empty, or defined but too long to read, which no credential can then match. */
static int read_secret(char *secret, size_t secret_size)
{
	int got = plat_getenv("ZUN_PASSWORD", secret, secret_size);
	return got < 0 || (got > 0 && secret[0] != '\0');
}

int node_auth_enabled(void)
{
	char secret[CREDENTIAL_SIZE];
	return read_secret(secret, sizeof(secret));
}

void require_node_auth(void)
{
	static const char refusal[] = "Status: 401 Unauthorized\r\n"
				      "Content-Type: application/json; charset=utf-8\r\n"
				      "Cache-Control: no-store\r\n"
				      "X-Content-Type-Options: nosniff\r\n"
				      "\r\n"
				      "{\"ok\":false,\"error\":\"invalid node password\"}\n";
	char secret[CREDENTIAL_SIZE];
	if (!read_secret(secret, sizeof(secret)))
		return;

	/* An unreadable secret is left empty, and only a present value is compared, so a
	 * password that could not be read matches nothing. */
	if (secret[0] != '\0') {
		char given[CREDENTIAL_SIZE];
		if (plat_getenv("HTTP_X_ZUN_PASSWORD", given, sizeof(given)) == 1 && secret_equals(given, secret))
			return;
		if (plat_getenv("HTTP_AUTHORIZATION", given, sizeof(given)) == 1 && bearer_matches(given, secret))
			return;
		char qs[PLAT_ENV_VALUE_SIZE];
		if (plat_getenv("QUERY_STRING", qs, sizeof(qs)) == 1) {
			char pwd[PWD_PARAM_SIZE];
			int found = get_query_val(qs, "pwd", pwd, sizeof(pwd));
			pwd[PWD_VALUE_MAX] = '\0';
			if (found && secret_equals(pwd, secret))
				return;
		}
	}

	/* The one helper that ends the process: a refused request gets nothing else. */
	out_write(refusal, sizeof(refusal) - 1);
	fflush(stdout);
	exit(0);
}
