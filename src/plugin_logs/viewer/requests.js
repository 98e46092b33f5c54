// Requests to the JSON API (sources, tail, search), the follow timer, and the view kept in the
// page's address.

// ---- The password

// A pwd in the page's own address is read once, before anything else runs: it is kept for the
// tab's lifetime in session storage (per node, so that another node opened in the same tab
// does not receive it) and taken out of the address, so that neither a copied link nor the
// history holds it. Returns it, for the case that session storage refuses it.
function takeAddressPassword() {
	var params = new URLSearchParams(location.search);
	if (!params.has('pwd'))
		return '';
	var pwd = params.get('pwd') || '';
	try {
		if (pwd)
			sessionStorage.setItem('plugin_logs_pwd_' + (params.get('node') || ''), pwd);
	} catch {
		// Without session storage it lasts for this page only.
	}
	var rest = withoutKeys(location.search, ['pwd']);
	try {
		history.replaceState(history.state, '', location.pathname + rest + location.hash);
	} catch {
		// A sandboxed frame may refuse: the address then stays as it was.
	}
	return pwd;
}

function sessionPassword(node) {
	try {
		return sessionStorage.getItem('plugin_logs_pwd_' + node) || '';
	} catch {
		return '';
	}
}

// The address's password (now in session storage) wins over the hub's stored ones.
function readContext() {
	var params = new URLSearchParams(location.search);
	state.hub = params.get('plugin') || '';
	state.node = params.get('node') || '';
	state.sid = params.get('id') || '';
	state.pwd = OPENED_PWD || sessionPassword(state.node) ||
		(state.node ? stored('zun_pwd_' + state.node) : '') || stored('zun_active_pwd') || '';
}

// ---- The view in the address

// The parameters the page writes into its own address; any others it was opened with stay,
// except a password, which never stays there.
var VIEW_KEYS = ['src', 'lines', 'level', 'since', 'until', 'q', 'pwd'];

function paramName(piece) {
	return new URLSearchParams(piece).keys().next().value;
}

// The raw pieces of a query part ("?a=1&b=2") without the named parameters, as written.
function withoutKeys(search, keys) {
	var parts = search.slice(1).split('&').filter(function (p) {
		return p && keys.indexOf(paramName(p)) < 0;
	});
	return parts.length ? '?' + parts.join('&') : '';
}

// Source, line count, level and search from a reload or a shared link.
function readView() {
	var params = new URLSearchParams(location.search);
	state.src = params.get('src') || '';
	var lines = buttonFor(ui.segLines, 'data-n', params.get('lines'));
	if (lines) {
		state.lines = parseInt(lines.getAttribute('data-n'), 10);
		pressOnly(ui.segLines, lines);
	}
	var level = buttonFor(ui.segLevel, 'data-level', params.get('level'));
	if (level) {
		state.level = level.getAttribute('data-level');
		pressOnly(ui.segLevel, level);
	}
	state.since = params.get('since') || '';
	state.until = params.get('until') || '';
	// An input refuses a value it cannot show; the request still sends it, and the server's
	// answer says what is wrong with it.
	ui.from.value = state.since;
	ui.to.value = state.until;
	var q = (params.get('q') || '').trim();
	if (q) {
		state.query = q;
		ui.q.value = q;
		state.mode = 'search';
	}
}

// The parameters the page was opened with stay as written (a password among them; no other
// is ever added). The values written are percent-encoded, "=" and "&" too, so that no value
// reads as "action=" or "format=json" to the server's routing or as a parameter of its own.
function writeView() {
	var kept = withoutKeys(location.search, VIEW_KEYS).slice(1);
	var parts = kept ? [kept] : [];
	if (state.src)
		parts.push('src=' + encodeURIComponent(state.src));
	parts.push('lines=' + state.lines, 'level=' + state.level);
	if (state.since)
		parts.push('since=' + encodeURIComponent(state.since));
	if (state.until)
		parts.push('until=' + encodeURIComponent(state.until));
	if (state.mode === 'search' && state.query)
		parts.push('q=' + encodeURIComponent(state.query));
	var search = '?' + parts.join('&');
	if (search === location.search)
		return;
	try {
		history.replaceState(history.state, '', search + location.hash);
	} catch {
		// A sandboxed frame may refuse: the address then stays as it was.
	}
}

// ---- Requests

// A header value carries Latin-1 at most, and that as single bytes where the gate compares
// UTF-8: only a plain ASCII password goes there.
function headerSafe(text) {
	return /^[\x20-\x7e]*$/.test(text);
}

// On the direct route a password the header can carry travels in the header alone, so that
// it stays out of the web server's access log. The hub's route takes the query as it is (what
// the hub forwards is its own affair), and the header cannot carry other passwords: there the
// pwd parameter carries it.
function passwordInQuery() {
	return !!state.pwd && (!!state.hub || !headerSafe(state.pwd));
}

function passwordHeaders() {
	return state.pwd && headerSafe(state.pwd) ? { 'X-Zun-Password': state.pwd } : {};
}

// Through the hub the API query rides after a second '?' inside the plugin value.
function apiUrl(query) {
	var u = (state.hub ? '/plugins?plugin=' + state.hub : '/plugin_logs') + '?' + query;
	if (state.node)
		u += '&node=' + encodeURIComponent(state.node);
	if (state.sid)
		u += '&id=' + encodeURIComponent(state.sid);
	if (passwordInQuery())
		u += '&pwd=' + encodeURIComponent(state.pwd);
	return u;
}

function api(query) {
	return fetch(apiUrl(query), { cache: 'no-store', headers: passwordHeaders() }).then(function (r) {
		return r.json();
	});
}

function failed(doc) {
	return doc === null || typeof doc !== 'object' || doc.ok === false;
}

function nextRequest() {
	state.requests++;
	return state.requests;
}

// A user action overtakes every request still pending and starts the view afresh: the next
// tail of a log file is a whole one.
function overtake() {
	state.seen = state.requests;
	state.cursor = '';
	clearArrivals();
}

// Whether the answer to request n may be shown; if so, older ones may no longer be.
function current(n) {
	if (n <= state.seen)
		return false;
	state.seen = n;
	return true;
}

// ---- Sources

// Source-list messages go to the start-up notice only while it still exists.
function startNotice(text) {
	var e = $('empty');
	if (e)
		e.textContent = text;
}

function humanSize(n) {
	if (!n)
		return '';
	var units = ['B', 'KB', 'MB', 'GB'], i = 0;
	while (n >= 1024 && i < units.length - 1) {
		n /= 1024;
		i++;
	}
	return (i ? n.toFixed(1) : String(n)) + ' ' + units[i];
}

// Binary units with one decimal ("1.0 GiB"), for how far a search has looked.
function binarySize(n) {
	var units = ['B', 'KiB', 'MiB', 'GiB', 'TiB'], i = 0;
	n = n > 0 ? n : 0;
	while (n >= 1024 && i < units.length - 1) {
		n /= 1024;
		i++;
	}
	return (i ? n.toFixed(1) : String(n)) + ' ' + units[i];
}

// How long before the list was made (its utc, by the server's own clock like mtime) a log file
// last changed; empty when unknown (event logs have mtime 0).
function agoText(mtime, now) {
	if (!(mtime > 0) || !(now > 0))
		return '';
	var s = now - mtime;
	if (s < 60)
		return 'just now';
	if (s < 3600)
		return Math.floor(s / 60) + ' min ago';
	if (s < 86400)
		return Math.floor(s / 3600) + ' h ago';
	return Math.floor(s / 86400) + ' d ago';
}

function changedLately(mtime, now) {
	return mtime > 0 && now > 0 && now - mtime < 3600;
}

function isFile(src) {
	return src.indexOf('file:') === 0;
}

// The listed row of a source, or null.
function sourceOf(src) {
	for (var i = 0; i < state.sources.length; i++) {
		if (state.sources[i].id === src)
			return state.sources[i];
	}
	return null;
}

// A log file changed within the hour is marked by a dot in the list, and its name says so in
// words for a screen reader.
function sourceOption(s, now) {
	var o = document.createElement('option'), size = s.size ? humanSize(s.size) : '';
	var ago = s.kind === 'file' ? agoText(s.mtime, now) : '';
	var lately = s.kind === 'file' && changedLately(s.mtime, now);
	o.value = s.id;
	o.textContent = (lately ? '\u25cf ' : '') + s.label + (size ? '  (' + size + ')' : '') +
		(ago ? '  \u00b7 ' + ago : '');
	if (ago)
		o.setAttribute('aria-label', s.label + (size ? ', ' + size : '') + ', changed ' + ago +
			(lately ? ', within the last hour' : ''));
	return o;
}

function sourceGroup(list, kind, label, now) {
	var group = document.createElement('optgroup');
	group.label = label;
	list.forEach(function (s) {
		if (s.kind === kind)
			group.appendChild(sourceOption(s, now));
	});
	return group;
}

// Beside the list: when the current log file last changed, with the same mark.
function showAge() {
	var s = sourceOf(state.src), el = ui.age;
	var ago = s && s.kind === 'file' ? agoText(s.mtime, state.listedAt) : '';
	var lately = !!ago && changedLately(s.mtime, state.listedAt);
	el.textContent = '';
	el.classList.toggle('recent', lately);
	el.title = ago ? 'Last changed ' + new Date(s.mtime * 1000).toLocaleString() : '';
	if (!ago)
		return;
	el.appendChild(span('vh', 'Changed '));
	el.appendChild(document.createTextNode(ago));
	if (lately)
		el.appendChild(span('vh', ', within the last hour'));
}

// Download reads log files only: an event log's button says so and does nothing.
function showDownload() {
	var off = !isFile(state.src);
	ui.download.setAttribute('aria-disabled', off ? 'true' : 'false');
	ui.download.title = off ? 'Only log files can be downloaded' : 'Download the whole log file';
}

function loadSources() {
	return api('action=sources').then(function (d) {
		var sel = ui.sel;
		while (sel.firstChild)
			sel.removeChild(sel.firstChild);
		if (failed(d)) {
			startNotice('Could not list sources.');
			return;
		}
		var list = Array.isArray(d.sources) ? d.sources : [];
		var now = Date.parse(d.utc) / 1000;
		state.sources = list;
		state.listedAt = now > 0 ? now : 0;
		[['journal', 'Journal'], ['file', 'Log files'], ['event', 'Event logs']].forEach(function (g) {
			var group = sourceGroup(list, g[0], g[1], state.listedAt);
			if (group.childNodes.length)
				sel.appendChild(group);
		});
		if (d.truncated === true)
			ui.fNote.textContent = 'source list truncated \u00b7 local read only';
		var want = state.src || (list.length ? list[0].id : '');
		if (want) {
			sel.value = want;
			state.src = want;
		}
		showAge();
		showDownload();
		if (!list.length)
			startNotice('No readable log sources on this node.');
	}).catch(function (e) {
		startNotice('Request failed: ' + (e && e.message ? e.message : String(e)));
	});
}

// ---- Tail, search, follow

// Entries come whole: the lines that carry on an entry (a stack trace, an event's description)
// are joined to it with "\n" in its text.
var MULTILINE = '&multiline=1';

function rangeQuery() {
	return (state.since ? '&since=' + encodeURIComponent(state.since) : '') +
		(state.until ? '&until=' + encodeURIComponent(state.until) : '');
}

// A log file's tail is followed by cursor: the server sends only what was written after it.
// An event log is read whole every time, and a time range reads the range afresh.
function byCursor() {
	return isFile(state.src) && !state.since && !state.until;
}

// The entries to show after a cursor's answer. With reset false it holds only the entries
// written after the cursor, the first of them (marked continues) being the last one shown,
// which may have grown by further lines; otherwise it is the whole tail.
function carryOn(d, entries) {
	if (typeof d.cursor !== 'string') {
		state.cursor = '';
		return entries;
	}
	state.cursor = d.cursor;
	if (d.reset !== false)
		return entries;
	var kept = state.last;
	if (d.continues === true && entries.length && kept.length) {
		// An open entry stays open while it grows.
		if (state.open.has(entryKey(kept[kept.length - 1])))
			state.open.add(entryKey(entries[0]));
		kept = kept.slice(0, -1);
	}
	var all = kept.concat(entries);
	return all.length > state.lines ? all.slice(all.length - state.lines) : all;
}

function tail() {
	if (!state.src)
		return Promise.resolve();
	var n = nextRequest(), bottom = atBottom(), cursor = byCursor();
	var query = 'action=tail&lines=' + state.lines + '&src=' + encodeURIComponent(state.src) +
		MULTILINE + rangeQuery() + (cursor ? '&after=' + encodeURIComponent(state.cursor) : '');
	return api(query).then(function (d) {
		if (!current(n))
			return;
		showOlder();
		if (failed(d)) {
			state.cursor = '';
			setPill('error', 'paused');
			showNotice(d && d.message ? d.message : 'unreadable source', true);
			setText(ui.fCount, '0 entries');
			return;
		}
		state.mode = 'tail';
		var entries = Array.isArray(d.entries) ? d.entries : [];
		state.last = cursor ? carryOn(d, entries) : entries;
		forgetClosed(state.last);
		state.lastHl = '';
		state.lastNoun = ' entries';
		setText(ui.src, d.label || d.src || '');
		var before = state.shown ? state.shown.rows : [];
		if (showLast()) {
			if (bottom)
				ui.log.scrollTop = ui.log.scrollHeight;
			noteArrivals(before);
		}
		// Live only while the timer runs: an answer that arrives after the page was hidden
		// finds it stopped.
		setPill(state.timer ? 'live 3s' : 'paused', state.timer ? 'live' : 'paused');
	}, function () {
		if (!current(n))
			return;
		setPill('offline', 'paused');
		setText(ui.fNote, 'request failed');
	});
}

// The hit count, and for a whole-file search how far back it has looked.
function searchNoun(d) {
	var noun = ' hits of ' + (d.scope === 'file' ? state.scanned : d.scanned || 0) + ' scanned';
	if (d.scope !== 'file')
		return noun + (d.truncated === true ? ' (capped)' : '');
	var src = sourceOf(state.src);
	return noun + ' \u00b7 searched ' + binarySize(state.searched) +
		(src && src.size ? ' of ' + binarySize(src.size) : '');
}

// "Older matches" while a whole-file search has not reached the start of the file.
function showOlder() {
	var b = ui.olderBtn, hide = state.mode !== 'search' || state.older < 0;
	if (b.hidden !== hide)
		b.hidden = hide;
	b.removeAttribute('aria-disabled');
}

// A log file is searched whole, newest first, in steps of at most 500 hits: older (true) asks
// for the step before the hits shown, which go below the older ones with the view kept where it
// is. An event log is searched as far as its reader looks.
function search(older) {
	if (!state.src || !state.query)
		return tail();
	var n = nextRequest(), whole = isFile(state.src);
	var query = 'action=search&src=' + encodeURIComponent(state.src) + '&q=' +
		encodeURIComponent(state.query) + MULTILINE + rangeQuery();
	if (whole)
		query += '&scope=file' + (older ? '&before=' + state.older : '');
	return api(query).then(function (d) {
		if (!current(n))
			return;
		if (failed(d)) {
			var why = d && (d.message || d.error) || 'search failed';
			// The hits found so far stay; the footer says why no older ones came.
			if (older) {
				setText(ui.fNote, why);
				showOlder();
			} else {
				state.older = -1;
				showOlder();
				showNotice(why, true);
			}
			return;
		}
		var hits = Array.isArray(d.hits) ? d.hits : [];
		var top = ui.log.scrollTop, height = ui.log.scrollHeight;
		older = older && state.mode === 'search';
		state.mode = 'search';
		state.last = older ? hits.concat(state.last) : hits;
		if (d.scope === 'file') {
			state.searched = (older ? state.searched : 0) + (Number(d.searched_bytes) || 0);
			state.scanned = (older ? state.scanned : 0) + (Number(d.scanned) || 0);
			state.older = typeof d.next_before === 'number' ? d.next_before : -1;
		} else {
			state.older = -1;
		}
		forgetClosed(state.last);
		state.lastHl = state.query;
		state.lastNoun = searchNoun(d);
		showLast();
		// Rows added above keep the rows in view where they were.
		if (older)
			ui.log.scrollTop = top + (ui.log.scrollHeight - height);
		showOlder();
		setPill('search', 'paused');
	}, function () {
		if (!current(n))
			return;
		showOlder();
		setText(ui.fNote, 'search failed');
	});
}

// Older matches: one step at a time (the button holds still until its answer is in).
function searchOlder() {
	if (state.mode !== 'search' || state.older < 0 || ui.olderBtn.getAttribute('aria-disabled') === 'true')
		return;
	ui.olderBtn.setAttribute('aria-disabled', 'true');
	search(true);
}

// A tick never overlaps its own pending request: busy holds until the tail settles.
function tick() {
	if (state.busy)
		return;
	state.busy = true;
	var done = function () {
		state.busy = false;
	};
	tail().then(done, done);
}

// Following needs a range that stays open at its end.
function following() {
	return state.follow && !state.until;
}

function schedule() {
	if (state.timer) {
		clearInterval(state.timer);
		state.timer = null;
	}
	if (following() && state.mode === 'tail' && document.visibilityState === 'visible') {
		state.timer = setInterval(tick, 3000);
		setPill('live 3s', 'live');
	} else {
		setPill(state.mode === 'search' ? 'search' : 'paused', 'paused');
	}
}

function refresh() {
	overtake();
	if (state.mode === 'search' && state.query)
		search();
	else
		tail();
	schedule();
	writeView();
}
