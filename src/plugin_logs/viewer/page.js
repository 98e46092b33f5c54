// The viewer's client script: lists the sources, shows and follows a tail, searches, copies.
// Requests (tail, search) only fetch and pick what to show; renderRows alone decides how the log
// area changes. The build keeps its lines and drops indentation and lines of // comments.
(function () {
	'use strict';

	// Context from the page's own address; the hub writes the stored passwords.
	var params = new URLSearchParams(location.search);
	var HUB = params.get('plugin') || '';
	var node = params.get('node') || '';
	var sid = params.get('id') || '';
	var pwd = params.get('pwd') || (node ? stored('zun_pwd_' + node) : '') ||
		stored('zun_active_pwd') || '';

	var SRC = '', LINES = 200, FOLLOW = true, TIMER = null, BUSY = false;
	var LAST = [], QUERY = '', MODE = 'tail';
	// Every tail and search is numbered. An answer is shown only when it is newer than the last
	// one shown and than the last user action: SEEN is the number up to which answers are dropped.
	var REQUESTS = 0, SEEN = 0;
	// What the log area holds: its rows with their highlight, or a notice (no rows). Null until
	// the first rendering replaces the start-up notice.
	var SHOWN = null;
	var copyTimer = null;

	var sel = $('srcSel'), logEl = $('log'), pill = $('pState'), fCount = $('fCount');
	var fNote = $('fNote'), qIn = $('q');

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
		setText(pill, text);
		if (pill.className !== 'pill ' + cls)
			pill.className = 'pill ' + cls;
	}

	// ---- Requests

	// Through the hub the API query rides after a second '?' inside the plugin value.
	function apiUrl(query) {
		var u = (HUB ? '/plugins?plugin=' + HUB : '/plugin_logs') + '?' + query;
		if (node)
			u += '&node=' + encodeURIComponent(node);
		if (sid)
			u += '&id=' + encodeURIComponent(sid);
		if (pwd)
			u += '&pwd=' + encodeURIComponent(pwd);
		return u;
	}

	// A header value carries Latin-1 at most, and that as single bytes where the gate compares
	// UTF-8: only a plain ASCII password goes there. The pwd parameter always carries it.
	function headerSafe(text) {
		return /^[\x20-\x7e]*$/.test(text);
	}

	function api(query) {
		var headers = {};
		if (pwd && headerSafe(pwd))
			headers['X-Zun-Password'] = pwd;
		return fetch(apiUrl(query), { cache: 'no-store', headers: headers }).then(function (r) {
			return r.json();
		});
	}

	function failed(doc) {
		return doc === null || typeof doc !== 'object' || doc.ok === false;
	}

	function nextRequest() {
		REQUESTS++;
		return REQUESTS;
	}

	// A user action overtakes every request still pending.
	function overtake() {
		SEEN = REQUESTS;
	}

	// Whether the answer to request n may be shown; if so, older ones may no longer be.
	function current(n) {
		if (n <= SEEN)
			return false;
		SEEN = n;
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
				fNote.textContent = 'source list truncated \u00b7 local read only';
			var want = SRC || (list.length ? list[0].id : '');
			if (want) {
				sel.value = want;
				SRC = want;
			}
			if (!list.length)
				startNotice('No readable log sources on this node.');
		}).catch(function (e) {
			startNotice('Request failed: ' + (e && e.message ? e.message : String(e)));
		});
	}

	// ---- Rows

	function span(cls, text) {
		var s = document.createElement('span');
		s.className = cls;
		s.textContent = text == null ? '' : String(text);
		return s;
	}

	// Date and time to the second of the ISO and event shapes; other shapes (syslog's
	// "Jan 05 10:00:00") are short enough as they are. The cell's title keeps the full text.
	function shortTime(ts) {
		var m = /^(\d{4}-\d\d-\d\d)[T ](\d\d:\d\d:\d\d)/.exec(ts);
		return m ? m[1] + ' ' + m[2] : ts;
	}

	function timeCell(ts) {
		var full = ts == null ? '' : String(ts);
		var cell = span('ts', shortTime(full));
		if (full)
			cell.title = full;
		return cell;
	}

	// ASCII-only folding keeps offsets equal in both texts and matches the server's search.
	function fold(text) {
		return text.replace(/[A-Z]/g, function (c) {
			return c.toLowerCase();
		});
	}

	// The text in plain pieces and marks; hl is already folded.
	function appendMarked(el, text, hl) {
		var lower = fold(text), i = 0, j;
		while ((j = lower.indexOf(hl, i)) >= 0) {
			if (j > i)
				el.appendChild(document.createTextNode(text.slice(i, j)));
			var m = document.createElement('mark');
			m.textContent = text.slice(j, j + hl.length);
			el.appendChild(m);
			i = j + hl.length;
		}
		if (i < text.length)
			el.appendChild(document.createTextNode(text.slice(i)));
	}

	function buildRow(row, hl) {
		var ln = document.createElement('div');
		ln.className = 'ln ' + (row.sev || 'info');
		ln.appendChild(timeCell(row.ts));
		var tx = span('tx', hl ? '' : row.text);
		if (hl)
			appendMarked(tx, row.text == null ? '' : String(row.text), hl);
		ln.appendChild(tx);
		ln.appendChild(span('un', row.unit));
		return ln;
	}

	function appendRows(rows, hl) {
		var f = document.createDocumentFragment(), h = fold(hl);
		rows.forEach(function (r) {
			f.appendChild(buildRow(r, h));
		});
		logEl.appendChild(f);
	}

	function sameRow(a, b) {
		return a.ts === b.ts && a.unit === b.unit && a.sev === b.sev && a.text === b.text;
	}

	// The first index of `shown` from which `rows` repeats the shown rows to their end, or -1
	// when rows does not carry on from them. A log file's tail arrives oldest first, so new
	// entries come at the end and old ones leave at the top; an event log's arrives newest
	// first, so its new entries come at the top and it is rebuilt.
	function carriesOnFrom(shown, rows) {
		for (var k = 0; k < shown.length; k++) {
			var overlap = shown.length - k;
			if (overlap > rows.length)
				continue;
			var i = 0;
			while (i < overlap && sameRow(shown[k + i], rows[i]))
				i++;
			if (i === overlap)
				return k;
		}
		return -1;
	}

	function showNotice(text) {
		if (SHOWN && !SHOWN.rows.length && SHOWN.notice === text)
			return false;
		logEl.textContent = '';
		var e = document.createElement('div');
		e.className = 'empty';
		e.textContent = text;
		logEl.appendChild(e);
		SHOWN = { rows: [], hl: '', notice: text };
		return true;
	}

	// The one place that changes the log area: rows the same as shown leave it alone, rows that
	// carry on from them drop the rows gone at the top and add the new ones, anything else
	// rebuilds it. Returns whether it changed.
	function renderRows(rows, hl, count) {
		setText(fCount, count);
		if (!rows.length)
			return showNotice(MODE === 'search' ? 'No matches in the scanned window.' :
				'This source produced no entries.');
		var k = SHOWN && SHOWN.hl === hl ? carriesOnFrom(SHOWN.rows, rows) : -1;
		if (k === 0 && rows.length === SHOWN.rows.length) {
			SHOWN.rows = rows;
			return false;
		}
		if (k < 0) {
			logEl.textContent = '';
			appendRows(rows, hl);
		} else {
			for (var i = 0; i < k; i++)
				logEl.removeChild(logEl.firstChild);
			appendRows(rows.slice(SHOWN.rows.length - k), hl);
		}
		SHOWN = { rows: rows, hl: hl, notice: '' };
		return true;
	}

	function atBottom() {
		return logEl.scrollTop + logEl.clientHeight >= logEl.scrollHeight - 24;
	}

	// ---- Tail, search, follow

	function tail() {
		if (!SRC)
			return Promise.resolve();
		var n = nextRequest(), bottom = atBottom();
		return api('action=tail&lines=' + LINES + '&src=' + encodeURIComponent(SRC)).then(function (d) {
			if (!current(n))
				return;
			if (failed(d)) {
				setPill('error', 'paused');
				showNotice(d && d.message ? d.message : 'unreadable source');
				setText(fCount, '0 entries');
				return;
			}
			MODE = 'tail';
			LAST = Array.isArray(d.entries) ? d.entries : [];
			setText($('pSrc'), d.label || d.src || '');
			if (renderRows(LAST, '', LAST.length + ' entries') && bottom)
				logEl.scrollTop = logEl.scrollHeight;
			// Live only while the timer runs: an answer that arrives after the page was hidden
			// finds it stopped.
			setPill(TIMER ? 'live 3s' : 'paused', TIMER ? 'live' : 'paused');
		}, function () {
			if (!current(n))
				return;
			setPill('offline', 'paused');
			setText(fNote, 'request failed');
		});
	}

	function search() {
		if (!SRC || !QUERY)
			return tail();
		var n = nextRequest();
		return api('action=search&src=' + encodeURIComponent(SRC) + '&q=' + encodeURIComponent(QUERY))
			.then(function (d) {
				if (!current(n))
					return;
				if (failed(d)) {
					showNotice(d && (d.message || d.error) || 'search failed');
					return;
				}
				MODE = 'search';
				LAST = Array.isArray(d.hits) ? d.hits : [];
				renderRows(LAST, QUERY, LAST.length + ' hits of ' + (d.scanned || 0) + ' scanned' +
					(d.truncated === true ? ' (capped)' : ''));
				setPill('search', 'paused');
			}, function () {
				if (!current(n))
					return;
				setText(fNote, 'search failed');
			});
	}

	// A tick never overlaps its own pending request: BUSY holds until the tail settles.
	function tick() {
		if (BUSY)
			return;
		BUSY = true;
		var done = function () {
			BUSY = false;
		};
		tail().then(done, done);
	}

	function schedule() {
		if (TIMER) {
			clearInterval(TIMER);
			TIMER = null;
		}
		if (FOLLOW && MODE === 'tail' && document.visibilityState === 'visible') {
			TIMER = setInterval(tick, 3000);
			setPill('live 3s', 'live');
		} else {
			setPill(MODE === 'search' ? 'search' : 'paused', 'paused');
		}
	}

	function refresh() {
		overtake();
		if (MODE === 'search' && QUERY)
			search();
		else
			tail();
		schedule();
	}

	function runSearch() {
		overtake();
		QUERY = qIn.value.trim();
		MODE = QUERY ? 'search' : 'tail';
		if (QUERY)
			search();
		else
			tail();
		schedule();
	}

	// ---- Copy

	function copyText() {
		return LAST.map(function (r) {
			return (r.ts ? r.ts + ' ' : '') + (r.unit ? r.unit + ': ' : '') +
				(r.text == null ? '' : String(r.text));
		}).join('\n');
	}

	function showCopyResult(text) {
		var b = $('btnCopy');
		b.textContent = text;
		if (copyTimer)
			clearTimeout(copyTimer);
		copyTimer = setTimeout(function () {
			b.textContent = 'Copy';
			copyTimer = null;
		}, 1400);
	}

	function copy() {
		var text = copyText();
		if (navigator.clipboard && navigator.clipboard.writeText) {
			navigator.clipboard.writeText(text).then(function () {
				showCopyResult('Copied');
			}, function () {
				showCopyResult('Copy failed');
			});
			return;
		}
		var ta = document.createElement('textarea'), ok = false;
		ta.value = text;
		document.body.appendChild(ta);
		ta.select();
		try {
			ok = document.execCommand('copy');
		} catch {
			ok = false;
		}
		showCopyResult(ok ? 'Copied' : 'Copy failed');
		document.body.removeChild(ta);
	}

	// ---- Controls

	sel.addEventListener('change', function () {
		SRC = sel.value;
		MODE = 'tail';
		QUERY = '';
		qIn.value = '';
		refresh();
	});
	$('segLines').addEventListener('click', function (e) {
		var b = e.target.closest('button');
		if (!b)
			return;
		Array.prototype.forEach.call(this.querySelectorAll('button'), function (x) {
			x.classList.toggle('on', x === b);
		});
		LINES = parseInt(b.getAttribute('data-n'), 10) || 200;
		refresh();
	});
	$('btnFollow').addEventListener('click', function () {
		FOLLOW = !FOLLOW;
		this.classList.toggle('on', FOLLOW);
		this.textContent = FOLLOW ? 'Follow' : 'Paused';
		if (FOLLOW && MODE === 'search')
			MODE = 'tail';
		refresh();
	});
	$('btnSearch').addEventListener('click', runSearch);
	qIn.addEventListener('keydown', function (e) {
		if (e.key === 'Enter')
			runSearch();
	});
	$('btnWrap').addEventListener('click', function () {
		this.classList.toggle('on', logEl.classList.toggle('wrap'));
	});
	$('btnCopy').addEventListener('click', copy);
	$('btnReload').addEventListener('click', function () {
		overtake();
		loadSources().then(refresh);
	});
	$('btnTheme').addEventListener('click', function () {
		if (typeof window.wqApplyTheme !== 'function')
			return;
		window.wqApplyTheme(window.wqTheme() === 'dark' ? 'light' : 'dark');
	});
	document.addEventListener('visibilitychange', function () {
		if (document.visibilityState === 'visible')
			refresh();
		else
			schedule();
	});

	loadSources().then(refresh);
})();
