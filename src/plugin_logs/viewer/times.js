// The timestamp layouts the time column can read, and the short text it shows for them.

// One row per layout, named for what writes it, with a sample: the pattern, and the fields its
// groups hold in order (y year, yy two-digit year, m month number, b month name, d day, H hour,
// M minute, S second, p AM or PM). Tried in order, so the commonest come first; a shape none
// reads is shown as written.
var TIME_LAYOUTS = [
	// ISO 8601 and its kin: event records, log4j, Python logging, Serilog, systemd
	// (2024-01-15T10:30:00.1234567Z, 2024-01-15 10:30:00,123, 2024-01-15 10:31:00.123 +01:00)
	{ re: /^(\d{4})-(\d\d)-(\d\d)[T ](\d\d):(\d\d):(\d\d)/, fields: 'ymdHMS' },
	// syslog, no year (Jan  5 09:12:44)
	{ re: /^([A-Z][a-z]{2}) {1,2}(\d{1,2}) (\d\d):(\d\d):(\d\d)/, fields: 'bdHMS' },
	// glog, spdlog, .NET "yyyy/MM/dd" (2024/01/15 10:36:00.1234567)
	{ re: /^(\d{4})\/(\d\d)\/(\d\d)[T ](\d\d):(\d\d):(\d\d)/, fields: 'ymdHMS' },
	// Spark's log4j "yy/MM/dd HH:mm:ss" (24/01/15 10:36:00)
	{ re: /^(\d\d)\/(\d\d)\/(\d\d) (\d\d):(\d\d):(\d\d)/, fields: 'ymdHMS', shortYear: true },
	// Tomcat's "dd-MMM-yyyy" (15-Jan-2024 10:37:00.123)
	{ re: /^(\d{1,2})-([A-Z][a-z]{2})-(\d{4}) (\d\d):(\d\d):(\d\d)/, fields: 'dbyHMS' },
	// Compact ISO of scripts and installers (20240115 103000, 20240115-10:30:00)
	{ re: /^(\d{4})(\d\d)(\d\d)[ T-](\d\d):?(\d\d):?(\d\d)(?![\d])/, fields: 'ymdHMS' },
	// C's ctime and asctime, Apache 2.4 with microseconds
	// (Mon Jan 15 10:38:00 2024, Mon Jan 15 10:38:00.123456 2024)
	{ re: /^[A-Z][a-z]{2} ([A-Z][a-z]{2}) {1,2}(\d{1,2}) (\d\d):(\d\d):(\d\d)(?:\.\d+)? (\d{4})/, fields: 'bdHMSy' },
	// Android logcat, no year (01-15 10:30:00.123)
	{ re: /^(\d\d)-(\d\d) (\d\d):(\d\d):(\d\d)/, fields: 'mdHMS' },
	// .NET's en-US general pattern (1/15/2024 10:39:00 AM)
	{ re: /^(\d{1,2})\/(\d{1,2})\/(\d{4}) (\d{1,2}):(\d\d):(\d\d) ?([AP]M)/, fields: 'mdyHMSp' },
	// Day first, as most of Europe writes it (15/01/2024 10:39:01, 15.01.2024 10:39:02); a
	// month above 12 means the writer put the month first.
	{ re: /^(\d{1,2})[/.](\d{1,2})[/.](\d{4}) (\d{1,2}):(\d\d):(\d\d)/, fields: 'dmyHMS', swapInvalid: true },
];

var MONTHS = ['Jan', 'Feb', 'Mar', 'Apr', 'May', 'Jun', 'Jul', 'Aug', 'Sep', 'Oct', 'Nov', 'Dec'];

function pad2(n) {
	return n < 10 ? '0' + n : String(n);
}

// The fields of the first layout that reads ts, as numbers (month 1 to 12, hour 0 to 23; no y
// when the layout has no year), or null.
function readTime(ts) {
	// Apache and others bracket the time; the brackets are no part of it.
	if (ts.charAt(0) === '[')
		ts = ts.slice(1);
	for (var i = 0; i < TIME_LAYOUTS.length; i++) {
		var layout = TIME_LAYOUTS[i], m = layout.re.exec(ts);
		if (!m)
			continue;
		var t = {};
		for (var k = 0; k < layout.fields.length; k++) {
			var f = layout.fields[k], v = m[k + 1];
			if (f === 'b')
				t.m = MONTHS.indexOf(v) + 1;
			else if (f === 'p')
				t.p = v;
			else
				t[f] = parseInt(v, 10);
		}
		if (layout.shortYear)
			t.y += 2000;
		if (t.p)
			t.H = t.H % 12 + (t.p === 'PM' ? 12 : 0);
		if (layout.swapInvalid && t.m > 12 && t.d <= 12) {
			var d = t.d;
			t.d = t.m;
			t.m = d;
		}
		if (t.m >= 1 && t.m <= 12 && t.d >= 1 && t.d <= 31 && t.H < 24 && t.M < 60 && t.S < 61)
			return t;
	}
	return null;
}

// Date and time to the second: "2024-01-15 10:30:00", or "Jan 05 09:12:44" where the layout
// has no year. A shape none of the layouts reads is shown as written; the cell's title keeps
// the full text.
function shortTime(ts) {
	var t = readTime(ts);
	if (!t)
		return ts;
	var time = pad2(t.H) + ':' + pad2(t.M) + ':' + pad2(t.S);
	if (t.y === undefined)
		return MONTHS[t.m - 1] + ' ' + pad2(t.d) + ' ' + time;
	return t.y + '-' + pad2(t.m) + '-' + pad2(t.d) + ' ' + time;
}
