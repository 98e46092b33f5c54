// The page's state, the one record the script's files share, and small helpers on elements.

// First of all, before anything can read or copy the address: a password it carries moves to
// the tab's session storage and leaves the address (takeAddressPassword, in requests.js).
var OPENED_PWD = takeAddressPassword();

// Everything the page knows and decides lives here; the other files read and write it, and
// keep nothing of their own between events.
var state = {
	// Context from the page's own address, read once at start-up (readContext); the hub
	// writes the stored passwords.
	hub: '',
	node: '',
	sid: '',
	pwd: '',
	src: '',
	// The sources as last listed (size and mtime of the current one are read from there).
	sources: [],
	// The list's own time (its utc, Unix seconds), against which the files' mtimes are aged.
	listedAt: 0,
	lines: 200,
	// Whether the user wants the tail followed; it is followed only while the time range has no
	// end (following()).
	follow: true,
	// The time range, as sent: YYYY-MM-DDTHH:MM[:SS] in the browser's local time, or empty.
	since: '',
	until: '',
	// Where the next follow tick of a log file carries on (the server's opaque cursor); empty
	// asks for a whole tail. Any change of what is shown starts over with it empty.
	cursor: '',
	timer: null,
	busy: false,
	last: [],
	query: '',
	mode: 'tail',
	// A whole-file search goes back through the file in steps: the bytes searched so far, and
	// the offset the next step ("Older matches") starts from, -1 once the start was reached.
	searched: 0,
	scanned: 0,
	older: -1,
	// The rows of last shown: 'all', 'warn' (warn and err) or 'err'. last keeps every row
	// received, so the filter needs no request; lastHl and lastNoun say how last is shown and
	// counted (the highlight, and " entries" or the hit summary after the number).
	level: 'all',
	lastHl: '',
	lastNoun: ' entries',
	// Every tail and search is numbered. An answer is shown only when it is newer than the last
	// one shown and than the last user action: seen is the number up to which answers are
	// dropped.
	requests: 0,
	seen: 0,
	// What the log area holds: its rows with their highlight, or a notice (no rows). Null until
	// the first rendering replaces the start-up notice.
	shown: null,
	// The row that e, E, w and W moved to, and the entries added where new ones arrive while
	// the view was away from there (the "N new" button).
	current: null,
	arrived: 0,
	// The entries of several lines shown open, by entryKey; kept across follow ticks.
	open: new Set(),
	copyTimer: null,
};

// The elements the script drives, found once.
var ui = {
	sel: $('srcSel'),
	log: $('log'),
	pill: $('pState'),
	src: $('pSrc'),
	fCount: $('fCount'),
	fNote: $('fNote'),
	q: $('q'),
	segLines: $('segLines'),
	segLevel: $('segLevel'),
	follow: $('btnFollow'),
	copy: $('btnCopy'),
	download: $('btnDownload'),
	newBtn: $('btnNew'),
	olderBtn: $('btnOlder'),
	from: $('tFrom'),
	to: $('tTo'),
	range: $('segRange'),
	age: $('srcAge'),
};

function $(id) {
	return document.getElementById(id);
}

function stored(key) {
	try {
		return localStorage.getItem(key) || '';
	} catch {
		return '';
	}
}

// Writes only on change, so that a repeated answer leaves the page untouched.
function setText(el, text) {
	if (el.textContent !== text)
		el.textContent = text;
}

function setPill(text, cls) {
	setText(ui.pill, text);
	if (ui.pill.className !== 'pill ' + cls)
		ui.pill.className = 'pill ' + cls;
}

// The button of a segmented group whose attribute holds the value, or null.
function buttonFor(group, attr, value) {
	var buttons = group.querySelectorAll('button');
	for (var i = 0; i < buttons.length; i++) {
		if (buttons[i].getAttribute(attr) === value)
			return buttons[i];
	}
	return null;
}

function pressOnly(group, button) {
	Array.prototype.forEach.call(group.querySelectorAll('button'), function (b) {
		b.classList.toggle('on', b === button);
		b.setAttribute('aria-pressed', b === button ? 'true' : 'false');
	});
}
