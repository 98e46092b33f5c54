// The viewer's client script: lists the sources, shows and follows a tail, searches, filters by
// level, moves between errors, copies, and keeps the view in the page's address.
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
	// The rows of LAST shown: 'all', 'warn' (warn and err) or 'err'. LAST keeps every row
	// received, so the filter needs no request; LASTHL and LASTNOUN say how LAST is shown and
	// counted (the highlight, and " entries" or the hit summary after the number).
	var LEVEL = 'all', LASTHL = '', LASTNOUN = ' entries';
	// Every tail and search is numbered. An answer is shown only when it is newer than the last
	// one shown and than the last user action: SEEN is the number up to which answers are dropped.
	var REQUESTS = 0, SEEN = 0;
	// What the log area holds: its rows with their highlight, or a notice (no rows). Null until
	// the first rendering replaces the start-up notice.
	var SHOWN = null;
	// The row that e, E, w and W moved to, and the entries added where new ones arrive while
	// the view was away from there (the "N new" button).
	var CURRENT = null, ARRIVED = 0;
	var copyTimer = null;

	var sel = $('srcSel'), logEl = $('log'), pill = $('pState'), fCount = $('fCount');
	var fNote = $('fNote'), qIn = $('q'), segLines = $('segLines'), segLevel = $('segLevel');
	var newBtn = $('btnNew');
	// The parameters the page writes into its own address; any others it was opened with stay.
	var VIEW_KEYS = ['src', 'lines', 'level', 'q'];

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

	// ---- The view in the address

	function paramName(piece) {
		return new URLSearchParams(piece).keys().next().value;
	}

	// Source, line count, level and search from a reload or a shared link.
	function readView() {
		SRC = params.get('src') || '';
		var lines = buttonFor(segLines, 'data-n', params.get('lines'));
		if (lines) {
			LINES = parseInt(lines.getAttribute('data-n'), 10);
			pressOnly(segLines, lines);
		}
		var level = buttonFor(segLevel, 'data-level', params.get('level'));
		if (level) {
			LEVEL = level.getAttribute('data-level');
			pressOnly(segLevel, level);
		}
		var q = (params.get('q') || '').trim();
		if (q) {
			QUERY = q;
			qIn.value = q;
			MODE = 'search';
		}
	}

	// The parameters the page was opened with stay as written (a password among them; no other
	// is ever added). The values written are percent-encoded, "=" and "&" too, so that no value
	// reads as "action=" or "format=json" to the server's routing or as a parameter of its own.
	function writeView() {
		var parts = location.search.slice(1).split('&').filter(function (p) {
			return p && VIEW_KEYS.indexOf(paramName(p)) < 0;
		});
		if (SRC)
			parts.push('src=' + encodeURIComponent(SRC));
		parts.push('lines=' + LINES, 'level=' + LEVEL);
		if (MODE === 'search' && QUERY)
			parts.push('q=' + encodeURIComponent(QUERY));
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

	// A user action overtakes every request still pending and starts the view afresh.
	function overtake() {
		SEEN = REQUESTS;
		clearArrivals();
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

	// ---- Levels

	function levelRows(rows) {
		if (LEVEL === 'all')
			return rows;
		return rows.filter(function (r) {
			return r.sev === 'err' || (LEVEL === 'warn' && r.sev === 'warn');
		});
	}

	// With a filter on, the count names the levels among the rows shown.
	function levelSummary(rows) {
		if (LEVEL === 'all')
			return '';
		var err = 0, warn = 0;
		rows.forEach(function (r) {
			if (r.sev === 'err')
				err++;
			else if (r.sev === 'warn')
				warn++;
		});
		return ' \u00b7 ' + err + ' err \u00b7 ' + warn + ' warn';
	}

	function emptyText() {
		if (LEVEL !== 'all' && LAST.length)
			return 'None of the ' + LAST.length + (MODE === 'search' ? ' hits is ' : ' entries is ') +
				(LEVEL === 'err' ? 'err.' : 'warn or err.');
		return MODE === 'search' ? 'No matches in the scanned window.' : 'This source produced no entries.';
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

	// A failure notice stands until the next answer: a level change leaves it.
	function showNotice(text, failure) {
		if (SHOWN && !SHOWN.rows.length && SHOWN.notice === text) {
			SHOWN.failure = !!failure;
			return false;
		}
		logEl.textContent = '';
		markCurrent(null);
		var e = document.createElement('div');
		e.className = 'empty';
		e.textContent = text;
		logEl.appendChild(e);
		SHOWN = { rows: [], hl: '', notice: text, failure: !!failure };
		return true;
	}

	// ---- The current row

	function markCurrent(row) {
		if (CURRENT) {
			CURRENT.classList.remove('current');
			CURRENT.removeAttribute('aria-current');
		}
		CURRENT = row;
		if (row) {
			row.classList.add('current');
			row.setAttribute('aria-current', 'true');
		}
	}

	// The entry behind the current row, while it is shown.
	function currentEntry() {
		if (!CURRENT || !CURRENT.isConnected || !SHOWN)
			return null;
		return SHOWN.rows[Array.prototype.indexOf.call(logEl.children, CURRENT)] || null;
	}

	// The shown row of the same entry, after the rows were rebuilt.
	function rowOf(entry) {
		if (!entry)
			return null;
		for (var i = 0; i < SHOWN.rows.length; i++) {
			if (sameRow(SHOWN.rows[i], entry))
				return logEl.children[i];
		}
		return null;
	}

	// The one place that changes the log area: rows the same as shown leave it alone, rows that
	// carry on from them drop the rows gone at the top and add the new ones, anything else
	// rebuilds it. Returns whether it changed. The current row stays marked while its entry is
	// shown.
	function renderRows(rows, hl, count) {
		setText(fCount, count);
		if (!rows.length)
			return showNotice(emptyText());
		var k = SHOWN && SHOWN.hl === hl ? carriesOnFrom(SHOWN.rows, rows) : -1;
		if (k === 0 && rows.length === SHOWN.rows.length) {
			SHOWN.rows = rows;
			return false;
		}
		var current = currentEntry();
		if (k < 0) {
			logEl.textContent = '';
			appendRows(rows, hl);
		} else {
			for (var i = 0; i < k; i++)
				logEl.removeChild(logEl.firstChild);
			appendRows(rows.slice(SHOWN.rows.length - k), hl);
		}
		SHOWN = { rows: rows, hl: hl, notice: '', failure: false };
		if (CURRENT && !CURRENT.isConnected)
			markCurrent(rowOf(current));
		return true;
	}

	// LAST under the level filter, as its answer asks to show and count it.
	function showLast() {
		var rows = levelRows(LAST);
		return renderRows(rows, LASTHL, rows.length + LASTNOUN + levelSummary(rows));
	}

	function atBottom() {
		return logEl.scrollTop + logEl.clientHeight >= logEl.scrollHeight - 24;
	}

	// ---- Moving between err and warn rows

	// The first row at least partly in view.
	function topRow() {
		var rows = logEl.children, top = logEl.getBoundingClientRect().top, lo = 0, hi = rows.length, mid;
		while (lo < hi) {
			mid = (lo + hi) >> 1;
			if (rows[mid].getBoundingClientRect().bottom <= top)
				lo = mid + 1;
			else
				hi = mid;
		}
		return lo;
	}

	// A row out of view comes to the middle, with what led to it above.
	function revealRow(row) {
		var box = logEl.getBoundingClientRect(), r = row.getBoundingClientRect();
		if (r.top >= box.top && r.bottom <= box.bottom)
			return;
		logEl.scrollTop += r.top - box.top - (logEl.clientHeight - r.height) / 2;
	}

	// The next (step 1) or previous (step -1) row of the level after the current row, or from
	// the top of the view when there is none.
	function moveTo(sev, step) {
		if (!SHOWN || !SHOWN.rows.length)
			return;
		var rows = logEl.children, i;
		if (CURRENT && CURRENT.isConnected)
			i = Array.prototype.indexOf.call(rows, CURRENT) + step;
		else
			i = topRow() - (step < 0 ? 1 : 0);
		for (; i >= 0 && i < rows.length; i += step) {
			if (rows[i].classList.contains(sev)) {
				markCurrent(rows[i]);
				revealRow(rows[i]);
				return;
			}
		}
	}

	// ---- New entries out of view

	// An event log lists the newest first: its new entries arrive at the top.
	function newestFirst() {
		return SRC.indexOf('event:') === 0;
	}

	function atArrivalEnd() {
		return newestFirst() ? logEl.scrollTop <= 24 : atBottom();
	}

	// How many rows the shown ones gained where new entries arrive; 0 when they do not carry on.
	function addedAtEnd(before, rows) {
		var k = carriesOnFrom(before, rows);
		return k < 0 ? 0 : rows.length - (before.length - k);
	}

	function clearArrivals() {
		ARRIVED = 0;
		if (!newBtn.hidden)
			newBtn.hidden = true;
	}

	// Counts what the last rendering added while the view is more than 24 px away from there.
	function noteArrivals(before) {
		if (atArrivalEnd()) {
			clearArrivals();
			return;
		}
		var rows = SHOWN.rows;
		var added = newestFirst() ? addedAtEnd(before.slice().reverse(), rows.slice().reverse()) :
			addedAtEnd(before, rows);
		if (!added)
			return;
		ARRIVED += added;
		newBtn.textContent = ARRIVED + ' new ' + (newestFirst() ? '\u2191' : '\u2193');
		newBtn.classList.toggle('up', newestFirst());
		newBtn.hidden = false;
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
				showNotice(d && d.message ? d.message : 'unreadable source', true);
				setText(fCount, '0 entries');
				return;
			}
			MODE = 'tail';
			LAST = Array.isArray(d.entries) ? d.entries : [];
			LASTHL = '';
			LASTNOUN = ' entries';
			setText($('pSrc'), d.label || d.src || '');
			var before = SHOWN ? SHOWN.rows : [];
			if (showLast()) {
				if (bottom)
					logEl.scrollTop = logEl.scrollHeight;
				noteArrivals(before);
			}
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
					showNotice(d && (d.message || d.error) || 'search failed', true);
					return;
				}
				MODE = 'search';
				LAST = Array.isArray(d.hits) ? d.hits : [];
				LASTHL = QUERY;
				LASTNOUN = ' hits of ' + (d.scanned || 0) + ' scanned' +
					(d.truncated === true ? ' (capped)' : '');
				showLast();
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
		writeView();
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
		writeView();
	}

	// Escape empties the search box and returns to the tail, as a blank search does; in a box
	// already empty with the tail shown it hands the keys back to the log area.
	function leaveSearch() {
		if (!qIn.value && MODE === 'tail') {
			logEl.focus();
			return;
		}
		qIn.value = '';
		runSearch();
	}

	function toggleFollow() {
		var b = $('btnFollow');
		FOLLOW = !FOLLOW;
		b.classList.toggle('on', FOLLOW);
		b.textContent = FOLLOW ? 'Follow' : 'Paused';
		if (FOLLOW && MODE === 'search')
			MODE = 'tail';
		refresh();
	}

	// The rows already received, under another level; the request they came from stands.
	function setLevel(level) {
		LEVEL = level;
		clearArrivals();
		if (SHOWN && !SHOWN.failure) {
			var bottom = atBottom();
			showLast();
			if (CURRENT)
				revealRow(CURRENT);
			else if (bottom)
				logEl.scrollTop = logEl.scrollHeight;
		}
		writeView();
	}

	// ---- Copy

	// The rows shown, under the level filter.
	function copyText() {
		return levelRows(LAST).map(function (r) {
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
	segLines.addEventListener('click', function (e) {
		var b = e.target.closest('button');
		if (!b)
			return;
		pressOnly(segLines, b);
		LINES = parseInt(b.getAttribute('data-n'), 10) || 200;
		refresh();
	});
	segLevel.addEventListener('click', function (e) {
		var b = e.target.closest('button');
		if (!b)
			return;
		pressOnly(segLevel, b);
		setLevel(b.getAttribute('data-level'));
	});
	$('btnFollow').addEventListener('click', toggleFollow);
	$('btnSearch').addEventListener('click', runSearch);
	qIn.addEventListener('keydown', function (e) {
		if (e.key === 'Enter')
			runSearch();
		else if (e.key === 'Escape' && !e.ctrlKey && !e.altKey && !e.metaKey)
			leaveSearch();
	});
	newBtn.addEventListener('click', function () {
		logEl.scrollTop = newestFirst() ? 0 : logEl.scrollHeight;
		clearArrivals();
		// The button is gone; the keys go on in the log area.
		logEl.focus({ preventScroll: true });
	});
	logEl.addEventListener('scroll', function () {
		if (ARRIVED && atArrivalEnd())
			clearArrivals();
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
	// Keys act outside text fields and without Ctrl, Alt or Meta; Shift only makes the character
	// (E and W, and "/" where a layout needs it).
	var KEYS = {
		e: function () {
			moveTo('err', 1);
		},
		E: function () {
			moveTo('err', -1);
		},
		w: function () {
			moveTo('warn', 1);
		},
		W: function () {
			moveTo('warn', -1);
		},
		'/': function () {
			qIn.focus();
			qIn.select();
		},
		f: toggleFollow,
	};

	function inField(el) {
		return !!el && (el.isContentEditable || /^(INPUT|TEXTAREA|SELECT)$/.test(el.tagName));
	}

	document.addEventListener('keydown', function (e) {
		if (e.ctrlKey || e.altKey || e.metaKey || e.defaultPrevented || inField(e.target))
			return;
		if (!Object.prototype.hasOwnProperty.call(KEYS, e.key))
			return;
		e.preventDefault();
		KEYS[e.key]();
	});
	document.addEventListener('visibilitychange', function () {
		if (document.visibilityState === 'visible')
			refresh();
		else
			schedule();
	});

	readView();
	loadSources().then(refresh);
})();
