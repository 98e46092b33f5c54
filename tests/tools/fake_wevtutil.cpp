/* Test stand-in for the system's wevtutil.exe under Wine, installed as the prefix's
 * system32\wevtutil.exe (and as decoys elsewhere). What it does is chosen per run through
 * the environment, which passes through Wine:
 *   PL_FAKE_RECORD  file to which it appends its own path and its arguments, one line each
 *   PL_FAKE_OUTPUT  file whose bytes it writes to its standard output
 *   PL_FAKE_CHUNK   write that many bytes at a time (default: all at once)
 *   PL_FAKE_EXIT    its exit status (default 0)
 *   PL_FAKE_HANG    "1": after the output, start a copy of itself that sleeps, then sleep too
 * It also writes a line to its standard error, which the program must discard. */
#include <stdio.h>
#include <stdlib.h>
#include <string>
#include <windows.h>

static std::wstring env(const wchar_t *name)
{
	wchar_t buf[4096];
	DWORD n = GetEnvironmentVariableW(name, buf, 4096);
	return n > 0 && n < 4096 ? std::wstring(buf, n) : std::wstring();
}

static std::string utf8(const std::wstring &w)
{
	int n = WideCharToMultiByte(CP_UTF8, 0, w.c_str(), (int)w.size(), NULL, 0, NULL, NULL);
	std::string out((size_t)n, '\0');
	WideCharToMultiByte(CP_UTF8, 0, w.c_str(), (int)w.size(), &out[0], n, NULL, NULL);
	return out;
}

static void write_all(HANDLE h, const char *data, size_t len)
{
	DWORD done;
	while (len > 0 && WriteFile(h, data, (DWORD)len, &done, NULL) && done > 0) {
		data += done;
		len -= done;
	}
}

static void record(int argc, wchar_t **argv)
{
	std::wstring path = env(L"PL_FAKE_RECORD");
	if (path.empty())
		return;
	wchar_t self[MAX_PATH];
	DWORD n = GetModuleFileNameW(NULL, self, MAX_PATH);
	std::wstring line = std::wstring(self, n) + L"\n";
	for (int i = 1; i < argc; i++)
		line += (i > 1 ? L" " : L"") + std::wstring(argv[i]);
	line += L"\n";
	HANDLE h = CreateFileW(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_ALWAYS,
			       FILE_ATTRIBUTE_NORMAL, NULL);
	if (h == INVALID_HANDLE_VALUE)
		return;
	std::string bytes = utf8(line);
	write_all(h, bytes.data(), bytes.size());
	CloseHandle(h);
}

static void copy_output(void)
{
	std::wstring path = env(L"PL_FAKE_OUTPUT");
	if (path.empty())
		return;
	HANDLE in = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
				NULL);
	if (in == INVALID_HANDLE_VALUE)
		return;
	HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
	size_t chunk = (size_t)_wtoi(env(L"PL_FAKE_CHUNK").c_str());
	static char buf[1 << 16];
	DWORD got;
	while (ReadFile(in, buf, sizeof(buf), &got, NULL) && got > 0) {
		for (size_t at = 0; at < got;) {
			size_t n = chunk > 0 && chunk < got - at ? chunk : got - at;
			write_all(out, buf + at, n);
			at += n;
		}
	}
	CloseHandle(in);
}

/* A second process, so a test can see that ending the query ends everything it started; its
 * command line carries the query's arguments, which the test looks for. */
static void start_sleeping_copy(int argc, wchar_t **argv)
{
	wchar_t self[MAX_PATH];
	GetModuleFileNameW(NULL, self, MAX_PATH);
	std::wstring cmd = L"\"" + std::wstring(self) + L"\" sleeping-copy";
	for (int i = 1; i < argc; i++)
		cmd += L" " + std::wstring(argv[i]);
	SetEnvironmentVariableW(L"PL_FAKE_HANG", L"child");
	SetEnvironmentVariableW(L"PL_FAKE_OUTPUT", NULL);
	SetEnvironmentVariableW(L"PL_FAKE_RECORD", NULL);
	STARTUPINFOW si;
	PROCESS_INFORMATION pi;
	memset(&si, 0, sizeof(si));
	si.cb = sizeof(si);
	if (CreateProcessW(self, &cmd[0], NULL, NULL, FALSE, CREATE_NO_WINDOW, NULL, NULL, &si, &pi)) {
		CloseHandle(pi.hThread);
		CloseHandle(pi.hProcess);
	}
}

int wmain(int argc, wchar_t **argv)
{
	std::wstring hang = env(L"PL_FAKE_HANG");
	if (hang == L"child") {
		Sleep(600000);
		return 0;
	}
	record(argc, argv);
	copy_output();
	const char noise[] = "fake wevtutil: noise\r\n";
	write_all(GetStdHandle(STD_ERROR_HANDLE), noise, sizeof(noise) - 1);
	if (hang == L"1") {
		start_sleeping_copy(argc, argv);
		Sleep(600000);
	}
	return _wtoi(env(L"PL_FAKE_EXIT").c_str());
}
