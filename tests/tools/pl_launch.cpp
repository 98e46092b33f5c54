/* Test launcher for Wine: sets or removes environment variables inside Windows (Wine
 * replaces LOCALAPPDATA and USERPROFILE with its own), then runs a program with the
 * same standard handles and returns its exit status. Everything goes through the wide calls,
 * so names and values outside the ANSI code page arrive as they were given.
 * usage: pl_launch.exe [NAME=VALUE | -NAME]... -- PROGRAM [ARG]... */
#include <stdio.h>
#include <string>
#include <wchar.h>
#include <windows.h>

#include <shellapi.h>

static void append_quoted(std::wstring &cmd, const wchar_t *arg)
{
	if (!cmd.empty())
		cmd += L' ';
	if (arg[0] != L'\0' && wcspbrk(arg, L" \t\"") == NULL) {
		cmd += arg;
		return;
	}
	cmd += L'"';
	size_t slashes = 0;
	for (const wchar_t *p = arg; *p != L'\0'; p++) {
		if (*p == L'\\') {
			slashes++;
			continue;
		}
		if (*p == L'"')
			cmd.append(slashes * 2 + 1, L'\\');
		else
			cmd.append(slashes, L'\\');
		slashes = 0;
		cmd += *p;
	}
	cmd.append(slashes * 2, L'\\');
	cmd += L'"';
}

int main(void)
{
	int argc = 0;
	wchar_t **argv = CommandLineToArgvW(GetCommandLineW(), &argc);
	if (argv == NULL)
		return 125;
	int i = 1;
	for (; i < argc && wcscmp(argv[i], L"--") != 0; i++) {
		if (argv[i][0] == L'-') {
			SetEnvironmentVariableW(argv[i] + 1, NULL);
			continue;
		}
		const wchar_t *eq = wcschr(argv[i], L'=');
		if (eq == NULL)
			return 125;
		std::wstring name(argv[i], (size_t)(eq - argv[i]));
		SetEnvironmentVariableW(name.c_str(), eq + 1);
	}
	if (i + 1 >= argc)
		return 125;
	std::wstring cmd;
	for (int k = i + 1; k < argc; k++)
		append_quoted(cmd, argv[k]);

	STARTUPINFOW si;
	PROCESS_INFORMATION pi;
	ZeroMemory(&si, sizeof(si));
	si.cb = sizeof(si);
	si.dwFlags = STARTF_USESTDHANDLES;
	si.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
	si.hStdOutput = GetStdHandle(STD_OUTPUT_HANDLE);
	si.hStdError = GetStdHandle(STD_ERROR_HANDLE);
	std::wstring mutable_cmd = cmd;
	if (!CreateProcessW(argv[i + 1], &mutable_cmd[0], NULL, NULL, TRUE, 0, NULL, NULL, &si, &pi)) {
		fprintf(stderr, "pl_launch: cannot start %ls (%lu)\n", argv[i + 1], GetLastError());
		return 126;
	}
	WaitForSingleObject(pi.hProcess, INFINITE);
	DWORD code = 1;
	GetExitCodeProcess(pi.hProcess, &code);
	CloseHandle(pi.hProcess);
	CloseHandle(pi.hThread);
	return (int)code;
}
