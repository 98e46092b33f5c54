// parse_log_line: the fields a line gives its entry, one row per line; the severity is the
// writer's level, or the keyword classifier's when the line names none.
#include <gtest/gtest.h>

#include <string>
#include <string.h>

#include "plugin_logs/plugin_logs.h"

namespace {

struct ShapeRow {
	std::string line;
	const char *ts;
	std::string unit;
	std::string text;
	int32_t sev;
};

void check(const ShapeRow &r)
{
	LogEntry e;
	memset(&e, 'x', sizeof(e));
	parse_log_line(&e, r.line.data(), r.line.size());
	if (e.sev == SEV_UNCLASSIFIED)
		e.sev = severity_of(e.text);
	EXPECT_STREQ(e.ts, r.ts) << r.line;
	EXPECT_EQ(std::string(e.unit), r.unit) << r.line;
	EXPECT_EQ(std::string(e.text), r.text) << r.line;
	EXPECT_EQ(e.sev, r.sev) << r.line;
}

TEST(LineShape, Table)
{
	const std::string unit63(63, 'u');
	const std::string unit64(64, 'u');
	const ShapeRow rows[] = {
		// syslog
		{"Jan 05 10:00:00 myhost sshd[1234]: Accepted publickey for admin\n", "Jan 05 10:00:00",
		 "sshd[1234]", "Accepted publickey for admin", SEV_INFO},
		{"Mar 17 08:15:02 build-07 cron[881]:   job finished with error 3  \r\n", "Mar 17 08:15:02",
		 "cron[881]", "job finished with error 3", SEV_ERR},
		{"Mar 17 08:15:02 build-07 this line has no colon at all", "Mar 17 08:15:02", "",
		 "this line has no colon at all", SEV_INFO},
		{"Mar 17 08:15:02 build-07 :leading colon", "Mar 17 08:15:02", "", "leading colon", SEV_INFO},
		{"Jan 05 10:00:00 h", "Jan 05 10:00:00", "", "", SEV_INFO},
		{"Jan 05 10:00:00 h\tx y: z", "Jan 05 10:00:00", "y", "z", SEV_INFO}, // a tab is part of the host
		{"Jan 05 10:00:00  two spaces: t", "Jan 05 10:00:00", "two spaces", "t", SEV_INFO}, // empty host
		{"Jan 05 10:00:00 h " + unit63 + ": x", "Jan 05 10:00:00", unit63, "x", SEV_INFO},
		{"Jan 05 10:00:00 h " + unit64 + ": x", "Jan 05 10:00:00", "", unit64 + ": x", SEV_INFO},
		{"Jan 05 10:00:00 h myerror: fine", "Jan 05 10:00:00", "myerror", "fine", SEV_INFO}, // unit not classified
		{"x1Y 5Z ab:cdefghi h u: t", "", "", "x1Y 5Z ab:cdefghi h u: t", SEV_INFO}, // no month, no time
		{"1an 05 10:00:00 h u: t", "", "", "1an 05 10:00:00 h u: t", SEV_INFO},
		{"\xc3\x84n 05 10:00:00 h u: t", "", "", "\xc3\x84n 05 10:00:00 h u: t", SEV_INFO},
		{"Jan  5 10:00:00 myhost kernel: oops", "Jan  5 10:00:00", "kernel", "oops", SEV_INFO},
		{"Jan 05 10:00:00 ", "Jan 05 10:00:00", "", "", SEV_INFO},
		{"Jan 05 25:00:00 h u: t", "", "", "Jan 05 25:00:00 h u: t", SEV_INFO}, // no such hour
		// ISO 8601
		{"2024-01-15T10:30:00.123Z ERROR something failed", "2024-01-15T10:30:00.123Z", "",
		 "ERROR something failed", SEV_ERR},
		{"2024-01-15 10:30:00,123 WARN retrying in 5s", "2024-01-15 10:30:00,123", "",
		 "WARN retrying in 5s", SEV_WARN},
		{"2024-01-15T10:30:00\tTab separated", "2024-01-15T10:30:00", "", "Tab separated", SEV_INFO},
		{"2024-01-15T10:30:00.123456+00:00 INFO ok", "2024-01-15T10:30:00.123456+00:00", "", "INFO ok", SEV_INFO},
		{"2024-01-15T10:30:00.1234567+00:00 ERROR ok", "2024-01-15T10:30:00.1234567+00:00", "", "ERROR ok",
		 SEV_ERR},
		{"2024-01-15T10:30:00.000Z", "2024-01-15T10:30:00.000Z", "", "", SEV_INFO},
		{"2024-01-15T10:30:00.000Z \t text  ", "2024-01-15T10:30:00.000Z", "", "text  ", SEV_INFO},
		{"2024-01-15T10:30:00Z", "2024-01-15T10:30:00Z", "", "", SEV_INFO},
		{"2024-01-15x10:30:00 t", "", "", "2024-01-15x10:30:00 t", SEV_INFO},
		// plain
		{"[2024-01-15 10:30:00] bracketed", "2024-01-15 10:30:00", "", "bracketed", SEV_INFO},
		{"   indented line with Timeout   ", "", "", "   indented line with Timeout   ", SEV_WARN},
		{"\n", "", "", "", SEV_INFO},
		{"\r\n", "", "", "", SEV_INFO},
		{"\r", "", "", "", SEV_INFO},
		{"", "", "", "", SEV_INFO},
		{"mid\rline\r\r\n\n", "", "", "mid\rline", SEV_INFO},
		{std::string(2047, 'p'), "", "", std::string(1023, 'p'), SEV_INFO},
	};
	for (const ShapeRow &r : rows)
		check(r);
}

TEST(LineShape, FieldsAreCutBetweenCharacters)
{
	const std::string e = "\xc3\xa9"; // é, two bytes
	const ShapeRow rows[] = {
		// A character glued to a timestamp makes it none: the line is plain.
		{"Jan 05 10:00:0" + e + " h u: t", "", "", "Jan 05 10:00:0" + e + " h u: t", SEV_INFO},
		{"2024-01-15T10:30:00.123" + e + " x", "", "", "2024-01-15T10:30:00.123" + e + " x", SEV_INFO},
		{"2024-01-15T10:30:00.12345678901" + e + "rest", "", "", "2024-01-15T10:30:00.12345678901" + e + "rest",
		 SEV_INFO},
		// 1023 bytes of text: 1022 a and é do not fit, so é goes.
		{std::string(1022, 'a') + e + "zz", "", "", std::string(1022, 'a'), SEV_INFO},
		{"2024-01-15T10:30:00 " + std::string(1022, 'a') + e, "2024-01-15T10:30:00", "",
		 std::string(1022, 'a'), SEV_INFO},
		{"Jan 05 10:00:00 h u:" + std::string(1022, 'a') + e, "Jan 05 10:00:00", "u",
		 std::string(1022, 'a'), SEV_INFO},
		{"Jan 05 10:00:00 h \xd1\x81\xd0\xbb\xd1\x83\xd0\xb6\xd0\xb1\xd0\xb0: " + e, "Jan 05 10:00:00",
		 "\xd1\x81\xd0\xbb\xd1\x83\xd0\xb6\xd0\xb1\xd0\xb0", e, SEV_INFO},
	};
	for (const ShapeRow &r : rows)
		check(r);
}

TEST(LineShape, SyslogTextIsTrimmedThenCut)
{
	// The leading blank goes first, so the cut keeps 1023 bytes of the message itself.
	std::string text = " " + std::string(1021, 'a') + " bbb";
	std::string line = "Jan 05 10:00:00 h u:" + text;
	LogEntry e;
	parse_log_line(&e, line.data(), line.size());
	EXPECT_EQ(std::string(e.text), std::string(1021, 'a') + " b");
}

TEST(LineShape, IsoTextIsCutTo1023)
{
	std::string line = "2024-01-15T10:30:00 " + std::string(1500, 'z');
	LogEntry e;
	parse_log_line(&e, line.data(), line.size());
	EXPECT_EQ(std::string(e.text), std::string(1023, 'z'));
}

// Lines as the programs write them, each from its documented layout. sev is what the line
// itself names: SEV_UNCLASSIFIED leaves it to the keyword classifier.
struct LayoutRow {
	const char *writer;
	std::string line;
	const char *ts;
	const char *unit;
	std::string text;
	int32_t sev;
};

void check_layout(const LayoutRow &r, const char *ending)
{
	static char scratch[SHAPE_SCRATCH_SIZE];
	std::string line = r.line + ending;
	LineShape s;
	shape_log_line(&s, line.data(), line.size(), scratch);
	std::string what = std::string(r.writer) + ": " + r.line;
	EXPECT_EQ(std::string(s.ts, s.ts_len), r.ts) << what;
	EXPECT_EQ(s.has_ts, r.ts[0] != '\0') << what;
	EXPECT_EQ(std::string(s.unit, s.unit_len), r.unit) << what;
	EXPECT_EQ(std::string(s.text, s.text_len), r.text) << what;
	EXPECT_EQ(s.sev, r.sev) << what;
}

const int32_t NONE = SEV_UNCLASSIFIED;

TEST(LineShape, RealLayouts)
{
	const LayoutRow rows[] = {
		{"CBS.log", "2024-01-15 10:30:31, Info                  CBS    Failed to get next element [HRESULT = 0x800f080d - CBS_E_UNKNOWN_UPDATE]",
		 "2024-01-15 10:30:31", "CBS", "Info                  CBS    Failed to get next element [HRESULT = 0x800f080d - CBS_E_UNKNOWN_UPDATE]", SEV_INFO},
		{"CBS.log", "2024-01-15 10:30:31, Info CBS Warning: Unrecognized packageExtended attribute.",
		 "2024-01-15 10:30:31", "CBS", "Info CBS Warning: Unrecognized packageExtended attribute.", SEV_INFO},
		{"CBS.log", "2024-01-15 10:30:32, Error                 CSI    00000001 (F) STATUS_SXS_COMPONENT_STORE_CORRUPT",
		 "2024-01-15 10:30:32", "CSI", "Error                 CSI    00000001 (F) STATUS_SXS_COMPONENT_STORE_CORRUPT", SEV_ERR},
		{"DISM.log", "2024-01-15 10:30:33, Warning               DISM   DISM Provider Store: PID=1234 TID=5678 Failed to load the provider",
		 "2024-01-15 10:30:33", "DISM", "Warning               DISM   DISM Provider Store: PID=1234 TID=5678 Failed to load the provider", SEV_WARN},
		{"Serilog file", "2024-01-15 10:31:00.123 +01:00 [ERR] Unhandled exception in request /api/items",
		 "2024-01-15 10:31:00.123 +01:00", "", "[ERR] Unhandled exception in request /api/items", SEV_ERR},
		{"Serilog file", "2024-01-15 10:31:00.123 +01:00 [FTL] Host terminated unexpectedly",
		 "2024-01-15 10:31:00.123 +01:00", "", "[FTL] Host terminated unexpectedly", SEV_ERR},
		{"Serilog file", "2024-01-15 10:31:00.123 +01:00 [DBG] Cache hit, no errors so far",
		 "2024-01-15 10:31:00.123 +01:00", "", "[DBG] Cache hit, no errors so far", SEV_INFO},
		{"Serilog file", "2024-01-15 10:31:00.123 -05:00 [WRN] Slow response", "2024-01-15 10:31:00.123 -05:00", "",
		 "[WRN] Slow response", SEV_WARN},
		{"NLog", "2024-01-15 10:32:00.1234|ERROR|MyApp.Worker|Could not reach the queue",
		 "2024-01-15 10:32:00.1234", "MyApp.Worker", "|ERROR|MyApp.Worker|Could not reach the queue", SEV_ERR},
		{"NLog", "2024-01-15 10:32:00.1234|FATAL|MyApp.Worker|Stopping", "2024-01-15 10:32:00.1234", "MyApp.Worker",
		 "|FATAL|MyApp.Worker|Stopping", SEV_ERR},
		{"NLog", "2024-01-15 10:32:00.1234|TRACE|MyApp|Retrying after timeout", "2024-01-15 10:32:00.1234", "MyApp",
		 "|TRACE|MyApp|Retrying after timeout", SEV_INFO},
		{"log4net detailed", "2024-01-15 10:33:00,123 [1] ERROR MyApp.Program [(null)] - Unhandled exception",
		 "2024-01-15 10:33:00,123", "MyApp.Program", "[1] ERROR MyApp.Program [(null)] - Unhandled exception", SEV_ERR},
		{"log4net simple", "2024-01-15 10:33:00,123 [Worker-3] WARN  MyApp.Sync - Retry 2 of 5",
		 "2024-01-15 10:33:00,123", "MyApp.Sync", "[Worker-3] WARN  MyApp.Sync - Retry 2 of 5", SEV_WARN},
		{"logback default", "2024-01-15 10:34:00.123 [main] INFO  com.example.App - Started in 2.1 s",
		 "2024-01-15 10:34:00.123", "com.example.App", "[main] INFO  com.example.App - Started in 2.1 s", SEV_INFO},
		{"log4j %d %p %c - %m", "2024-01-15 10:34:00,123 DEBUG org.hibernate.SQL - select 1",
		 "2024-01-15 10:34:00,123", "org.hibernate.SQL", "DEBUG org.hibernate.SQL - select 1", SEV_INFO},
		{"log4j yy/MM/dd", "24/01/15 10:34:00 WARN scheduler.Job: skipped", "24/01/15 10:34:00", "",
		 "WARN scheduler.Job: skipped", SEV_WARN},
		{"Spring Boot", "2024-01-15T10:34:00.123+01:00  INFO 12345 --- [           main] c.e.demo.DemoApplication                 : Started DemoApplication",
		 "2024-01-15T10:34:00.123+01:00", "c.e.demo.DemoApplication",
		 "INFO 12345 --- [           main] c.e.demo.DemoApplication                 : Started DemoApplication", SEV_INFO},
		{"Spring Boot 3", "2024-01-15T10:34:00.123Z ERROR 12345 --- [demo] [nio-8080-exec-1] o.a.c.c.C.[dispatcherServlet]  : Servlet.service() failed",
		 "2024-01-15T10:34:00.123Z", "o.a.c.c.C.[dispatcherServlet]",
		 "ERROR 12345 --- [demo] [nio-8080-exec-1] o.a.c.c.C.[dispatcherServlet]  : Servlet.service() failed", SEV_ERR},
		{"Python logging default", "2024-01-15 10:30:00,123 - myapp.db - WARNING - Pool exhausted",
		 "2024-01-15 10:30:00,123", "myapp.db", "- myapp.db - WARNING - Pool exhausted", SEV_WARN},
		{"Python logging basicConfig", "WARNING:root:Disk almost full", "", "root", "WARNING:root:Disk almost full", SEV_WARN},
		{"Python logging basicConfig", "ERROR:myapp.api:Request failed", "", "myapp.api", "ERROR:myapp.api:Request failed", SEV_ERR},
		{"Microsoft.Extensions.Logging console", "info: Microsoft.Hosting.Lifetime[0]", "", "Microsoft.Hosting.Lifetime",
		 "info: Microsoft.Hosting.Lifetime[0]", SEV_INFO},
		{"Microsoft.Extensions.Logging console", "fail: MyApp.Controllers.HomeController[1001]", "", "MyApp.Controllers.HomeController",
		 "fail: MyApp.Controllers.HomeController[1001]", SEV_ERR},
		{"Microsoft.Extensions.Logging console", "warn: Microsoft.AspNetCore.HttpsPolicy[3]", "", "Microsoft.AspNetCore.HttpsPolicy",
		 "warn: Microsoft.AspNetCore.HttpsPolicy[3]", SEV_WARN},
		{"Microsoft.Extensions.Logging console", "crit: MyApp[0]", "", "MyApp", "crit: MyApp[0]", SEV_ERR},
		{"Microsoft.Extensions.Logging console", "dbug: MyApp[0]", "", "MyApp", "dbug: MyApp[0]", SEV_INFO},
		{"Microsoft.Extensions.Logging console, message line", "      Application started. Press Ctrl+C to shut down.", "", "",
		 "      Application started. Press Ctrl+C to shut down.", NONE},
		{"WindowsUpdate.log", "2024/01/15 10:30:00.1234567 1234  5678  Agent           * START * Finding updates",
		 "2024/01/15 10:30:00.1234567", "", "1234  5678  Agent           * START * Finding updates", NONE},
		{"IIS W3C", "2024-01-15 10:30:00 192.168.1.10 GET /index.html - 443 - 10.0.0.5 Mozilla/5.0 - 500 0 0 15",
		 "2024-01-15 10:30:00", "", "192.168.1.10 GET /index.html - 443 - 10.0.0.5 Mozilla/5.0 - 500 0 0 15", NONE},
		{"httpd access log", "127.0.0.1 - frank [10/Oct/2000:13:55:36 -0700] \"GET /apache_pb.gif HTTP/1.0\" 200 2326", "", "",
		 "127.0.0.1 - frank [10/Oct/2000:13:55:36 -0700] \"GET /apache_pb.gif HTTP/1.0\" 200 2326", NONE},
		{"Apache 2.4 error log", "[Mon Jan 15 10:38:00.123456 2024] [core:error] [pid 1234:tid 5678] [client 10.0.0.1:5555] AH00126: Invalid URI in request",
		 "Mon Jan 15 10:38:00.123456 2024", "", "[core:error] [pid 1234:tid 5678] [client 10.0.0.1:5555] AH00126: Invalid URI in request", SEV_ERR},
		{"Apache 2.4 error log", "[Mon Jan 15 10:38:00.123456 2024] [mpm_winnt:notice] [pid 1234:tid 5678] AH00354: Child: Starting 64 worker threads.",
		 "Mon Jan 15 10:38:00.123456 2024", "", "[mpm_winnt:notice] [pid 1234:tid 5678] AH00354: Child: Starting 64 worker threads.", SEV_INFO},
		{"Apache 2.2 error log", "[Mon Jan 15 10:38:00 2024] [warn] RSA server certificate CommonName does not match",
		 "Mon Jan 15 10:38:00 2024", "", "[warn] RSA server certificate CommonName does not match", SEV_WARN},
		{"nginx error log", "2024/01/15 10:39:00 [error] 1234#5678: *1 open() \"/usr/share/nginx/html/x\" failed (2: No such file or directory)",
		 "2024/01/15 10:39:00", "", "[error] 1234#5678: *1 open() \"/usr/share/nginx/html/x\" failed (2: No such file or directory)", SEV_ERR},
		{"nginx error log", "2024/01/15 10:39:00 [notice] 1#1: start worker processes", "2024/01/15 10:39:00", "",
		 "[notice] 1#1: start worker processes", SEV_INFO},
		{"Tomcat catalina", "15-Jan-2024 10:40:00.123 SEVERE [main] org.apache.catalina.startup.Catalina.start The required Server component failed to start",
		 "15-Jan-2024 10:40:00.123", "org.apache.catalina.startup.Catalina.start",
		 "SEVERE [main] org.apache.catalina.startup.Catalina.start The required Server component failed to start", SEV_ERR},
		{"Tomcat catalina", "15-Jan-2024 10:40:01.456 INFO [main] org.apache.catalina.startup.Catalina.start Server startup in [1234] milliseconds",
		 "15-Jan-2024 10:40:01.456", "org.apache.catalina.startup.Catalina.start",
		 "INFO [main] org.apache.catalina.startup.Catalina.start Server startup in [1234] milliseconds", SEV_INFO},
		{"java.util.logging", "Jan 15, 2024 10:40:00 AM org.apache.catalina.core.StandardService startInternal",
		 "Jan 15, 2024 10:40:00 AM", "", "org.apache.catalina.core.StandardService startInternal", NONE},
		{"java.util.logging, message line", "SEVERE: Failed to initialize end point", "", "", "SEVERE: Failed to initialize end point", SEV_ERR},
		{"syslog", "Jan 05 10:00:00 myhost sshd[1234]: Accepted publickey for admin", "Jan 05 10:00:00", "sshd[1234]",
		 "Accepted publickey for admin", NONE},
		{"syslog", "Jan  5 09:12:44 myhost kernel: [ 1.234] usb 1-1: new device", "Jan  5 09:12:44", "kernel",
		 "[ 1.234] usb 1-1: new device", NONE},
		{"syslog", "Dec 31 23:59:60 myhost CRON[99]: (root) CMD (run-parts)", "Dec 31 23:59:60", "CRON[99]",
		 "(root) CMD (run-parts)", NONE},
		// Programs that write their level as the message's first word.
		{"syslog, a daemon's own level", "Dec 10 01:38:19 host daemon[1234]: INFO request failed once, retried",
		 "Dec 10 01:38:19", "daemon[1234]", "INFO request failed once, retried", SEV_INFO},
		{"syslog, rsyslog-forwarded app", "Dec 10 01:38:19 host app: [WARN] cache miss", "Dec 10 01:38:19", "app",
		 "[WARN] cache miss", SEV_WARN},
		{"syslog, postfix", "Dec 10 01:38:19 mx postfix/smtpd[77]: warning: hostname does not resolve",
		 "Dec 10 01:38:19", "postfix/smtpd[77]", "warning: hostname does not resolve", SEV_WARN},
		{"syslog, a message that begins with a word like a level", "Dec 10 01:38:19 h sshd[9]: Failed password for root",
		 "Dec 10 01:38:19", "sshd[9]", "Failed password for root", NONE},
		{"syslog, a level word glued to more", "Dec 10 01:38:19 h app: errors=3 in batch", "Dec 10 01:38:19", "app",
		 "errors=3 in batch", NONE},
		{"zap console", "2024-01-15T10:30:00.123Z\tINFO\tcmd/main.go:42\tserver started", "2024-01-15T10:30:00.123Z", "",
		 "INFO\tcmd/main.go:42\tserver started", SEV_INFO},
		{"logrus text", "time=\"2024-01-15T10:30:00Z\" level=error msg=\"Failed to connect\" db=main",
		 "2024-01-15T10:30:00Z", "", "level=error msg=\"Failed to connect\" db=main", SEV_ERR},
		{"go-kit logfmt", "ts=2024-01-15T10:30:00.123Z caller=main.go:12 level=warn msg=\"slow query\"",
		 "2024-01-15T10:30:00.123Z", "", "caller=main.go:12 level=warn msg=\"slow query\"", SEV_WARN},
		{"logfmt, level first", "level=info ts=2024-01-15T10:30:00Z msg=ready", "", "", "level=info ts=2024-01-15T10:30:00Z msg=ready",
		 SEV_INFO},
		{"logcat threadtime", "01-15 10:30:00.123  1234  5678 I ActivityManager: Start proc 4321:com.example/u0a12",
		 "01-15 10:30:00.123", "ActivityManager", "1234  5678 I ActivityManager: Start proc 4321:com.example/u0a12", SEV_INFO},
		{"logcat threadtime", "01-15 10:30:00.456  1000  1000 E chatty  : uid=1000 system_server expire 3 lines",
		 "01-15 10:30:00.456", "chatty", "1000  1000 E chatty  : uid=1000 system_server expire 3 lines", SEV_ERR},
		{"logcat threadtime", "01-15 10:30:00.789  2000  2001 W System.err: at java.lang.Thread.run",
		 "01-15 10:30:00.789", "System.err", "2000  2001 W System.err: at java.lang.Thread.run", SEV_WARN},
		{"logcat threadtime", "01-15 10:30:01.000  2000  2001 F libc    : Fatal signal 11 (SIGSEGV)",
		 "01-15 10:30:01.000", "libc", "2000  2001 F libc    : Fatal signal 11 (SIGSEGV)", SEV_ERR},
		{".NET en-US", "1/15/2024 3:04:05 PM Job finished", "1/15/2024 3:04:05 PM", "", "Job finished", NONE},
		{".NET en-US", "12/31/2024 12:00:00 AM Error: disk full", "12/31/2024 12:00:00 AM", "", "Error: disk full", SEV_ERR},
		{".NET en-GB", "15/01/2024 15:04:05 Job finished", "15/01/2024 15:04:05", "", "Job finished", NONE},
		{".NET de-DE", "15.01.2024 15:04:05 Auftrag beendet, Größe 3 MB", "15.01.2024 15:04:05", "", "Auftrag beendet, Größe 3 MB", NONE},
		{".NET ru-RU", "15.01.2024 15:04:05 Задание завершено", "15.01.2024 15:04:05", "", "Задание завершено", NONE},
		{".NET \"o\"", "2024-01-15T10:30:00.1234567+01:00 Job finished", "2024-01-15T10:30:00.1234567+01:00", "", "Job finished", NONE},
		{"compact", "20240115 103000 backup done", "20240115 103000", "", "backup done", NONE},
		{"compact", "20240115-10:30:00 backup done", "20240115-10:30:00", "", "backup done", NONE},
		{"compact", "240115 10:30:00 [Warning] Aborted connection", "240115 10:30:00", "", "[Warning] Aborted connection", SEV_WARN},
		{"ctime", "Mon Jan  8 10:38:00 2024 sync started", "Mon Jan  8 10:38:00 2024", "", "sync started", NONE},
		{"Maven", "[INFO] BUILD SUCCESS", "", "", "[INFO] BUILD SUCCESS", SEV_INFO},
		{"Maven", "[ERROR] Failed to execute goal", "", "", "[ERROR] Failed to execute goal", SEV_ERR},
		{"setupapi.dev.log", ">>>  [Device Install (Hardware initiated) - USB\\VID_046D&PID_C52B\\5&2f5c1c0&0&2]", "", "",
		 ">>>  [Device Install (Hardware initiated) - USB\\VID_046D&PID_C52B\\5&2f5c1c0&0&2]", NONE},
		{"setupapi.dev.log", ">>>  Section start 2024/01/15 10:30:00.123", "", "", ">>>  Section start 2024/01/15 10:30:00.123", NONE},
		{"setupapi.dev.log", "     dvi: {Build Driver List} 10:30:00.140", "", "", "     dvi: {Build Driver List} 10:30:00.140", NONE},
		{"setupapi.dev.log", "<<<  [Exit status: SUCCESS]", "", "", "<<<  [Exit status: SUCCESS]", NONE},
	};
	for (const LayoutRow &r : rows) {
		check_layout(r, "\n");
		check_layout(r, "\r\n");
	}
}

// A level word in the message, or digits that only look like a time, are not fields.
TEST(LineShape, NotALevelNotATimestamp)
{
	const LayoutRow rows[] = {
		{"message", "2024-01-15 10:30:00 The error was ignored", "2024-01-15 10:30:00", "", "The error was ignored", NONE},
		{"message", "2024-01-15 10:30:00 Failed to open the file", "2024-01-15 10:30:00", "", "Failed to open the file", NONE},
		{"message", "2024-01-15 10:30:00 job done, no errors", "2024-01-15 10:30:00", "", "job done, no errors", NONE},
		{"message", "2024-01-15 10:30:00 [worker] job done after timeout", "2024-01-15 10:30:00", "",
		 "[worker] job done after timeout", NONE},
		{"message", "2024-01-15 10:30:00 [Errors] 3", "2024-01-15 10:30:00", "", "[Errors] 3", NONE},
		{"message", "2024-01-15 10:30:00 INFO2 is a host", "2024-01-15 10:30:00", "", "INFO2 is a host", NONE},
		{"message", "2024-01-15 10:30:00 Info_Panel opened", "2024-01-15 10:30:00", "", "Info_Panel opened", NONE},
		{"message", "2024-01-15 10:30:00 <Errors> x", "2024-01-15 10:30:00", "", "<Errors> x", NONE},
		{"plain", "Error rate climbed to 5%", "", "", "Error rate climbed to 5%", NONE},
		{"plain", "warning signs everywhere", "", "", "warning signs everywhere", NONE},
		{"plain", "Errors: 0", "", "", "Errors: 0", NONE},
		{"plain", "  ERROR: indented", "", "", "  ERROR: indented", NONE},
		{"plain", "E 1234 something", "", "", "E 1234 something", NONE},
		{"not a time", "2024-13-15 10:30:00 month 13", "", "", "2024-13-15 10:30:00 month 13", NONE},
		{"not a time", "2024-01-32 10:30:00 day 32", "", "", "2024-01-32 10:30:00 day 32", NONE},
		{"not a time", "2024-01-15 24:00:00 hour 24", "", "", "2024-01-15 24:00:00 hour 24", NONE},
		{"not a time", "2024-01-15 10:60:00 minute 60", "", "", "2024-01-15 10:60:00 minute 60", NONE},
		{"not a time", "2024-01-15 10:30:61 second 61", "", "", "2024-01-15 10:30:61 second 61", NONE},
		{"not a time", "2024-01-15 10:30 no seconds", "", "", "2024-01-15 10:30 no seconds", NONE},
		{"not a time", "2024-01-15T10:30:00+25:00 zone", "", "", "2024-01-15T10:30:00+25:00 zone", NONE},
		{"not a time", "2024-01-15 10:30:00abc", "", "", "2024-01-15 10:30:00abc", NONE},
		{"not a time", "12345 items copied", "", "", "12345 items copied", NONE},
		{"not a time", "1.2.3.4 - - request", "", "", "1.2.3.4 - - request", NONE},
		{"not a time", "13/15/2024 3:04:05 PM x", "", "", "13/15/2024 3:04:05 PM x", NONE},
		{"not a time", "1/15/2024 13:04:05 PM x", "", "", "1/15/2024 13:04:05 PM x", NONE},
		{"not a time", "15.01.24 10:30:00 short year", "", "", "15.01.24 10:30:00 short year", NONE},
		{"not a time", "May the force be with you", "", "", "May the force be with you", NONE},
		{"not a time", "Jun 31st was not a day", "", "", "Jun 31st was not a day", NONE},
		{"not a time", "Monday Jan 15 10:38:00 2024", "", "", "Monday Jan 15 10:38:00 2024", NONE},
		{"not a time", "[2024-01-15 10:30:00 unclosed", "", "", "[2024-01-15 10:30:00 unclosed", NONE},
		{"not a time", "time=soon level=error", "", "", "time=soon level=error", SEV_ERR},
		{"not JSON", "{\"time\":\"2024-01-15T10:30:00Z\",\"msg\":\"x\"", "", "", "{\"time\":\"2024-01-15T10:30:00Z\",\"msg\":\"x\"", NONE},
		{"not JSON", "{\"time\":\"2024-01-15T10:30:00Z\"} trailing", "", "", "{\"time\":\"2024-01-15T10:30:00Z\"} trailing", NONE},
		{"not JSON", "{\"msg\":\"no time key\",\"level\":\"error\"}", "", "", "{\"msg\":\"no time key\",\"level\":\"error\"}", NONE},
	};
	for (const LayoutRow &r : rows)
		check_layout(r, "\n");
}

TEST(LineShape, NulAndOddBytesStayInTheLine)
{
	static char scratch[SHAPE_SCRATCH_SIZE];
	const std::string line("2024-01-15 10:30:00 [ERR] a\0b\xff", 31);
	LineShape s;
	shape_log_line(&s, line.data(), line.size(), scratch);
	EXPECT_EQ(s.sev, SEV_ERR);
	EXPECT_EQ(std::string(s.text, s.text_len), std::string("[ERR] a\0b\xff", 11));
}

TEST(LineShape, ParseLogLineCutsUnitAndKeepsTheLevel)
{
	const std::string logger(120, 'L');
	const std::string line = "2024-01-15 10:32:00.1234|WARN|" + logger + "|slow";
	LogEntry e;
	memset(&e, 'x', sizeof(e));
	parse_log_line(&e, line.data(), line.size());
	EXPECT_EQ(std::string(e.unit), std::string(95, 'L'));
	EXPECT_EQ(e.sev, SEV_WARN);
	EXPECT_STREQ(e.ts, "2024-01-15 10:32:00.1234");
}

} // namespace
