// The log area: rows built from entries, the level filter, notices, the current row and the
// count of new entries out of view. renderRows alone decides how the log area changes.

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
	ui.log.appendChild(f);
}

// ---- Levels

function levelRows(rows) {
	if (state.level === 'all')
		return rows;
	return rows.filter(function (r) {
		return r.sev === 'err' || (state.level === 'warn' && r.sev === 'warn');
	});
}

// With a filter on, the count names the levels among the rows shown.
function levelSummary(rows) {
	if (state.level === 'all')
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
	if (state.level !== 'all' && state.last.length)
		return 'None of the ' + state.last.length + (state.mode === 'search' ? ' hits is ' : ' entries is ') +
			(state.level === 'err' ? 'err.' : 'warn or err.');
	return state.mode === 'search' ? 'No matches in the scanned window.' : 'This source produced no entries.';
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
	var shown = state.shown;
	if (shown && !shown.rows.length && shown.notice === text) {
		shown.failure = !!failure;
		return false;
	}
	ui.log.textContent = '';
	markCurrent(null);
	var e = document.createElement('div');
	e.className = 'empty';
	e.textContent = text;
	ui.log.appendChild(e);
	state.shown = { rows: [], hl: '', notice: text, failure: !!failure };
	return true;
}

// ---- The current row

function markCurrent(row) {
	if (state.current) {
		state.current.classList.remove('current');
		state.current.removeAttribute('aria-current');
	}
	state.current = row;
	if (row) {
		row.classList.add('current');
		row.setAttribute('aria-current', 'true');
	}
}

// The entry behind the current row, while it is shown.
function currentEntry() {
	var row = state.current;
	if (!row || !row.isConnected || !state.shown)
		return null;
	return state.shown.rows[Array.prototype.indexOf.call(ui.log.children, row)] || null;
}

// The shown row of the same entry, after the rows were rebuilt.
function rowOf(entry) {
	if (!entry)
		return null;
	for (var i = 0; i < state.shown.rows.length; i++) {
		if (sameRow(state.shown.rows[i], entry))
			return ui.log.children[i];
	}
	return null;
}

// The one place that changes the log area: rows the same as shown leave it alone, rows that
// carry on from them drop the rows gone at the top and add the new ones, anything else
// rebuilds it. Returns whether it changed. The current row stays marked while its entry is
// shown.
function renderRows(rows, hl, count) {
	setText(ui.fCount, count);
	if (!rows.length)
		return showNotice(emptyText());
	var shown = state.shown;
	var k = shown && shown.hl === hl ? carriesOnFrom(shown.rows, rows) : -1;
	if (k === 0 && rows.length === shown.rows.length) {
		shown.rows = rows;
		return false;
	}
	var entry = currentEntry();
	if (k < 0) {
		ui.log.textContent = '';
		appendRows(rows, hl);
	} else {
		for (var i = 0; i < k; i++)
			ui.log.removeChild(ui.log.firstChild);
		appendRows(rows.slice(shown.rows.length - k), hl);
	}
	state.shown = { rows: rows, hl: hl, notice: '', failure: false };
	if (state.current && !state.current.isConnected)
		markCurrent(rowOf(entry));
	return true;
}

// last under the level filter, as its answer asks to show and count it.
function showLast() {
	var rows = levelRows(state.last);
	return renderRows(rows, state.lastHl, rows.length + state.lastNoun + levelSummary(rows));
}

function atBottom() {
	return ui.log.scrollTop + ui.log.clientHeight >= ui.log.scrollHeight - 24;
}

// ---- New entries out of view

// An event log lists the newest first: its new entries arrive at the top.
function newestFirst() {
	return state.src.indexOf('event:') === 0;
}

function atArrivalEnd() {
	return newestFirst() ? ui.log.scrollTop <= 24 : atBottom();
}

// How many rows the shown ones gained where new entries arrive; 0 when they do not carry on.
function addedAtEnd(before, rows) {
	var k = carriesOnFrom(before, rows);
	return k < 0 ? 0 : rows.length - (before.length - k);
}

function clearArrivals() {
	state.arrived = 0;
	if (!ui.newBtn.hidden)
		ui.newBtn.hidden = true;
}

// Counts what the last rendering added while the view is more than 24 px away from there.
function noteArrivals(before) {
	if (atArrivalEnd()) {
		clearArrivals();
		return;
	}
	var rows = state.shown.rows;
	var added = newestFirst() ? addedAtEnd(before.slice().reverse(), rows.slice().reverse()) :
		addedAtEnd(before, rows);
	if (!added)
		return;
	state.arrived += added;
	ui.newBtn.textContent = state.arrived + ' new ' + (newestFirst() ? '\u2191' : '\u2193');
	ui.newBtn.classList.toggle('up', newestFirst());
	ui.newBtn.hidden = false;
}

// The rows shown, under the level filter, as Copy writes them.
function copyText() {
	return levelRows(state.last).map(function (r) {
		return (r.ts ? r.ts + ' ' : '') + (r.unit ? r.unit + ': ' : '') +
			(r.text == null ? '' : String(r.text));
	}).join('\n');
}
