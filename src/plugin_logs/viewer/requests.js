// Requests to the JSON API (sources, tail, search), the follow timer, and the view kept in the
// page's address.

function readContext() {
	var params = new URLSearchParams(location.search);
	state.hub = params.get('plugin') || '';
	state.node = params.get('node') || '';
	state.sid = params.get('id') || '';
	state.pwd = params.get('pwd') || (state.node ? stored('zun_pwd_' + state.node) : '') ||
		stored('zun_active_pwd') || '';
}

// ---- The view in the address

// The parameters the page writes into its own address; any others it was opened with stay.
var VIEW_KEYS = ['src', 'lines', 'level', 'q'];

function paramName(piece) {
	return new URLSearchParams(piece).keys().next().value;
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
	var parts = location.search.slice(1).split('&').filter(function (p) {
		return p && VIEW_KEYS.indexOf(paramName(p)) < 0;
	});
	if (state.src)
		parts.push('src=' + encodeURIComponent(state.src));
	parts.push('lines=' + state.lines, 'level=' + state.level);
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

// Through the hub the API query rides after a second '?' inside the plugin value.
function apiUrl(query) {
	var u = (state.hub ? '/plugins?plugin=' + state.hub : '/plugin_logs') + '?' + query;
	if (state.node)
		u += '&node=' + encodeURIComponent(state.node);
	if (state.sid)
		u += '&id=' + encodeURIComponent(state.sid);
	if (state.pwd)
		u += '&pwd=' + encodeURIComponent(state.pwd);
	return u;
}

// A header value carries Latin-1 at most, and that as single bytes where the gate compares
// UTF-8: only a plain ASCII password goes there. The pwd parameter always carries it.
function headerSafe(text) {
	return /^[\x20-\x7e]*$/.test(text);
}

function api(query) {
	var headers = {};
	if (state.pwd && headerSafe(state.pwd))
		headers['X-Zun-Password'] = state.pwd;
	return fetch(apiUrl(query), { cache: 'no-store', headers: headers }).then(function (r) {
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

// A user action overtakes every request still pending and starts the view afresh.
function overtake() {
	state.seen = state.requests;
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

function sourceGroup(list, kind, label) {
	var group = document.createElement('optgroup');
	group.label = label;
	list.forEach(function (s) {
		if (s.kind !== kind)
			return;
		var o = document.createElement('option');
		o.value = s.id;
		o.textContent = s.label + (s.size ? '  (' + humanSize(s.size) + ')' : '');
		group.appendChild(o);
	});
	return group;
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
		[['journal', 'Journal'], ['file', 'Log files'], ['event', 'Event logs']].forEach(function (g) {
			var group = sourceGroup(list, g[0], g[1]);
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

function tail() {
	if (!state.src)
		return Promise.resolve();
	var n = nextRequest(), bottom = atBottom();
	var query = 'action=tail&lines=' + state.lines + '&src=' + encodeURIComponent(state.src) + MULTILINE;
	return api(query).then(function (d) {
		if (!current(n))
			return;
		if (failed(d)) {
			setPill('error', 'paused');
			showNotice(d && d.message ? d.message : 'unreadable source', true);
			setText(ui.fCount, '0 entries');
			return;
		}
		state.mode = 'tail';
		state.last = Array.isArray(d.entries) ? d.entries : [];
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

function search() {
	if (!state.src || !state.query)
		return tail();
	var n = nextRequest();
	var query = 'action=search&src=' + encodeURIComponent(state.src) + '&q=' +
		encodeURIComponent(state.query) + MULTILINE;
	return api(query).then(function (d) {
		if (!current(n))
			return;
		if (failed(d)) {
			showNotice(d && (d.message || d.error) || 'search failed', true);
			return;
		}
		state.mode = 'search';
		state.last = Array.isArray(d.hits) ? d.hits : [];
		forgetClosed(state.last);
		state.lastHl = state.query;
		state.lastNoun = ' hits of ' + (d.scanned || 0) + ' scanned' +
			(d.truncated === true ? ' (capped)' : '');
		showLast();
		setPill('search', 'paused');
	}, function () {
		if (!current(n))
			return;
		setText(ui.fNote, 'search failed');
	});
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

function schedule() {
	if (state.timer) {
		clearInterval(state.timer);
		state.timer = null;
	}
	if (state.follow && state.mode === 'tail' && document.visibilityState === 'visible') {
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
