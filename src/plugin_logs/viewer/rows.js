// The log area: rows built from entries, entries of several lines opened and closed, the level
// filter, notices, the current row and the count of new entries out of view. renderRows alone
// decides which rows the log area holds.

function span(cls, text) {
	var s = document.createElement('span');
	s.className = cls;
	s.textContent = text == null ? '' : String(text);
	return s;
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

function textOf(entry) {
	return entry.text == null ? '' : String(entry.text);
}

function hasEventId(entry) {
	return typeof entry.event_id === 'number';
}

// The text as plain text, or in pieces and marks when there is a highlight (already folded).
function fillText(el, text, hl) {
	if (hl)
		appendMarked(el, text, hl);
	else
		el.textContent = text;
}

// An event's Source and Event ID ("Kernel-Power · 41"); the source gives way first when the
// column is narrow, and a screen reader hears what the number is.
function unitCell(entry) {
	if (!hasEventId(entry))
		return span('un', entry.unit);
	var cell = span('un ev', '');
	var unit = entry.unit == null ? '' : String(entry.unit);
	cell.title = (unit ? 'Source ' + unit + ', ' : '') + 'Event ID ' + entry.event_id;
	if (unit)
		cell.appendChild(span('us', unit));
	var id = span('eid', unit ? ' \u00b7 ' : '');
	id.appendChild(span('vh', 'Event ID '));
	id.appendChild(document.createTextNode(String(entry.event_id)));
	cell.appendChild(id);
	return cell;
}

// ---- Entries of several lines

// An entry of several lines shows its first line and a control for the others; which entries
// are open is kept by their content, so that it holds when rows are rebuilt.
function entryKey(entry) {
	return entry.ts + '\u0001' + entry.unit + '\u0001' + entry.event_id + '\u0001' + entry.text;
}

function moreLabel(lines, open) {
	return (open ? '\u2212' : '+') + lines + (lines === 1 ? ' line' : ' lines');
}

// The text cell of an entry of several lines: the lines shown, then the control.
function fillLines(tx, text, hl, open) {
	var shown = tx.firstChild, more = tx.lastChild, lines = more.getAttribute('data-lines') | 0;
	shown.textContent = '';
	fillText(shown, open ? text : text.slice(0, text.indexOf('\n')), hl);
	more.textContent = moreLabel(lines, open);
	more.setAttribute('aria-expanded', open ? 'true' : 'false');
	more.title = (open ? 'Show the first line of this entry' : 'Show all ' + (lines + 1) + ' lines of this entry');
}

function multiText(text, hl, open) {
	var tx = span('tx', '');
	tx.appendChild(span('tl', ''));
	var more = document.createElement('button');
	more.type = 'button';
	more.className = 'more';
	// Reached from the keyboard through its row (Enter or Space), so that Tab does not stop at
	// every entry of a long tail.
	more.tabIndex = -1;
	more.setAttribute('data-lines', String(text.split('\n').length - 1));
	tx.appendChild(more);
	fillLines(tx, text, hl, open);
	return tx;
}

function buildRow(row, hl) {
	var ln = document.createElement('div'), text = textOf(row);
	ln.className = 'ln ' + (row.sev || 'info');
	ln.appendChild(timeCell(row.ts));
	if (text.indexOf('\n') < 0) {
		var tx = span('tx', '');
		fillText(tx, text, hl);
		ln.appendChild(tx);
	} else {
		var open = state.open.has(entryKey(row));
		ln.className += open ? ' multi open' : ' multi';
		ln.appendChild(multiText(text, hl, open));
	}
	if (hasEventId(row))
		ln.className += ' evt';
	ln.appendChild(unitCell(row));
	return ln;
}

// Adds rows at the end of the log area, or before the row `at`.
function appendRows(rows, hl, at) {
	var f = document.createDocumentFragment(), h = fold(hl);
	rows.forEach(function (r) {
		f.appendChild(buildRow(r, h));
	});
	ui.log.insertBefore(f, at || null);
}

// The entry behind a row of the log area, or null.
function entryOf(row) {
	if (!row || !row.isConnected || !state.shown)
		return null;
	return state.shown.rows[Array.prototype.indexOf.call(ui.log.children, row)] || null;
}

// Opens a closed entry of several lines, closes an open one; false for any other row.
function toggleLines(row) {
	var entry = entryOf(row);
	if (!entry || !row.classList.contains('multi'))
		return false;
	var key = entryKey(entry), open = !state.open.has(key);
	if (open)
		state.open.add(key);
	else
		state.open.delete(key);
	row.classList.toggle('open', open);
	fillLines(row.children[1], textOf(entry), fold(state.shown.hl), open);
	return true;
}

// Entries no longer received need not be remembered as open.
function forgetClosed(entries) {
	if (!state.open.size)
		return;
	var kept = new Set();
	entries.forEach(function (e) {
		var key = entryKey(e);
		if (state.open.has(key))
			kept.add(key);
	});
	state.open = kept;
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
	return a.ts === b.ts && a.unit === b.unit && a.sev === b.sev && a.text === b.text &&
		a.event_id === b.event_id;
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

// How rows carry on from the shown ones: the first `drop` shown rows go, the `keep` after them
// stay, any shown after those go too, and rows from index keep on are new. Following by cursor
// with whole entries can bring the last shown entry back grown by further lines: then it alone
// is replaced. Null when rows do not carry on from the shown ones.
function carryOver(shown, rows) {
	var k = carriesOnFrom(shown, rows);
	if (k >= 0)
		return { drop: k, keep: shown.length - k };
	k = carriesOnFrom(shown.slice(0, -1), rows);
	if (k >= 0)
		return { drop: k, keep: shown.length - 1 - k };
	return null;
}

// Whether rows are the shown ones with older rows above them (a whole-file search going back).
function extendsAbove(shown, rows) {
	var above = rows.length - shown.length;
	if (above <= 0 || !shown.length)
		return false;
	for (var i = 0; i < shown.length; i++) {
		if (!sameRow(shown[i], rows[above + i]))
			return false;
	}
	return true;
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

// The current row can take the focus, so that Enter and Space act on it; no other row can.
function markCurrent(row) {
	if (state.current) {
		state.current.classList.remove('current');
		state.current.removeAttribute('aria-current');
		state.current.removeAttribute('tabindex');
	}
	state.current = row;
	if (row) {
		row.classList.add('current');
		row.setAttribute('aria-current', 'true');
		row.tabIndex = -1;
	}
}

function hasFocus(row) {
	return !!row && row.isConnected && row.contains(document.activeElement);
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
// carry on from them drop the rows gone at the top and add the new ones (the last shown one
// replaced when it grew), older rows above the shown ones are inserted there, anything else
// rebuilds it. Returns whether it changed. The current row stays marked while its entry is
// shown.
function renderRows(rows, hl, count) {
	setText(ui.fCount, count);
	if (!rows.length)
		return showNotice(emptyText());
	var shown = state.shown, same = shown && shown.hl === hl;
	var c = same ? carryOver(shown.rows, rows) : null;
	if (c && c.drop === 0 && c.keep === shown.rows.length && rows.length === c.keep) {
		shown.rows = rows;
		return false;
	}
	var entry = entryOf(state.current), focused = hasFocus(state.current);
	if (c) {
		var i, gone = shown.rows.length - c.drop - c.keep;
		for (i = 0; i < c.drop; i++)
			ui.log.removeChild(ui.log.firstChild);
		for (i = 0; i < gone; i++)
			ui.log.removeChild(ui.log.lastChild);
		appendRows(rows.slice(c.keep), hl);
	} else if (same && extendsAbove(shown.rows, rows)) {
		appendRows(rows.slice(0, rows.length - shown.rows.length), hl, ui.log.firstChild);
	} else {
		ui.log.textContent = '';
		appendRows(rows, hl);
	}
	state.shown = { rows: rows, hl: hl, notice: '', failure: false };
	if (state.current && !state.current.isConnected) {
		markCurrent(rowOf(entry));
		if (focused && state.current)
			state.current.focus({ preventScroll: true });
	}
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
// A last entry that came back grown is not a new one.
function addedAtEnd(before, rows) {
	var c = carryOver(before, rows);
	return c ? Math.max(0, rows.length - (before.length - c.drop)) : 0;
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

// The entries shown, under the level filter, as Copy writes them: whole, every line of each.
function copyText() {
	return levelRows(state.last).map(function (r) {
		var unit = r.unit ? String(r.unit) : '';
		if (hasEventId(r))
			unit += (unit ? ' \u00b7 ' : '') + r.event_id;
		return (r.ts ? r.ts + ' ' : '') + (unit ? unit + ': ' : '') + textOf(r);
	}).join('\n');
}
