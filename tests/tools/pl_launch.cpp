/* Test launcher for Wine: sets or removes environment variables inside Windows (Wine
 * replaces LOCALAPPDATA and USERPROFILE with its own), then runs a program with the
 * same standard handles and returns its exit status.
 * usage: pl_launch.exe [NAME=VALUE | -NAME]... -- PROGRAM [ARG]... */
#include <stdio.h>
#include <string.h>
#include <string>
#include <windows.h>

static void append_quoted(std::string &cmd, const char *arg)
{
	if (!cmd.empty())
		cmd += ' ';
	if (arg[0] != '\0' && strpbrk(arg, " \t\"") == NULL) {
		cmd += arg;
		return;
	}
	cmd += '"';
	size_t slashes = 0;
	for (const char *p = arg; *p != '\0'; p++) {
		if (*p == '\\') {
			slashes++;
			continue;
		}
		if (*p == '"')
			cmd.append(slashes * 2 + 1, '\\');
		else
			cmd.append(slashes, '\\');
		slashes = 0;
		cmd += *p;
	}
	cmd.append(slashes * 2, '\\');
	cmd += '"';
}

int main(int argc, char **argv)
{
	int i = 1;
	for (; i < argc && strcmp(argv[i], "--") != 0; i++) {
		if (argv[i][0] == '-') {
			SetEnvironmentVariableA(argv[i] + 1, NULL);
			continue;
		}
		const char *eq = strchr(argv[i], '=');
		if (eq == NULL)
			return 125;
		std::string name(argv[i], (size_t)(eq - argv[i]));
		SetEnvironmentVariableA(name.c_str(), eq + 1);
	}
	if (i + 1 >= argc)
		return 125;
	std::string cmd;
	for (int k = i + 1; k < argc; k++)
		append_quoted(cmd, argv[k]);

	STARTUPINFOA si;
	PROCESS_INFORMATION pi;
	memset(&si, 0, sizeof(si));
	si.cb = sizeof(si);
	si.dwFlags = STARTF_USESTDHANDLES;
	si.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
	si.hStdOutput = GetStdHandle(STD_OUTPUT_HANDLE);
	si.hStdError = GetStdHandle(STD_ERROR_HANDLE);
	std::string mutable_cmd = cmd;
	if (!CreateProcessA(argv[i + 1], &mutable_cmd[0], NULL, NULL, TRUE, 0, NULL, NULL, &si, &pi)) {
		fprintf(stderr, "pl_launch: cannot start %s (%lu)\n", argv[i + 1], GetLastError());
		return 126;
	}
	WaitForSingleObject(pi.hProcess, INFINITE);
	DWORD code = 1;
	GetExitCodeProcess(pi.hProcess, &code);
	CloseHandle(pi.hProcess);
	CloseHandle(pi.hThread);
	return (int)code;
}
