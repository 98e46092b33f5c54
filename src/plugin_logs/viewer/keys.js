// Keys: moving between rows (all, or err and warn ones), opening an entry of several lines,
// and the page's other keys.

// The first row at least partly in view.
function topRow() {
	var rows = ui.log.children, top = ui.log.getBoundingClientRect().top, lo = 0, hi = rows.length, mid;
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
	var box = ui.log.getBoundingClientRect(), r = row.getBoundingClientRect();
	if (r.top >= box.top && r.bottom <= box.bottom)
		return;
	ui.log.scrollTop += r.top - box.top - (ui.log.clientHeight - r.height) / 2;
}

// Makes the row current and gives it the focus, bringing it into view.
function goToRow(row) {
	markCurrent(row);
	row.focus({ preventScroll: true });
	revealRow(row);
}

// The next (step 1) or previous (step -1) row of the level (any level when sev is empty) after
// the current row, or from the top of the view when there is none.
function moveToLevel(sev, step) {
	if (!state.shown || !state.shown.rows.length)
		return;
	var rows = ui.log.children, i;
	if (state.current && state.current.isConnected)
		i = Array.prototype.indexOf.call(rows, state.current) + step;
	else
		i = topRow() - (step < 0 ? 1 : 0);
	for (; i >= 0 && i < rows.length; i += step) {
		if (!sev || rows[i].classList.contains(sev)) {
			goToRow(rows[i]);
			return;
		}
	}
}

// Keys act outside text fields and without Ctrl, Alt or Meta; Shift only makes the character
// (E and W, and "/" where a layout needs it).
var KEYS = {
	e: function () {
		moveToLevel('err', 1);
	},
	E: function () {
		moveToLevel('err', -1);
	},
	w: function () {
		moveToLevel('warn', 1);
	},
	W: function () {
		moveToLevel('warn', -1);
	},
	j: function () {
		moveToLevel('', 1);
	},
	k: function () {
		moveToLevel('', -1);
	},
	'/': function () {
		ui.q.focus();
		ui.q.select();
	},
	f: toggleFollow,
};

function inField(el) {
	return !!el && (el.isContentEditable || /^(INPUT|TEXTAREA|SELECT)$/.test(el.tagName));
}

// The row that Enter and Space act on: the focused row, or the current one while the focus is
// on the log area. Never one behind a focused button, which has its own Enter and Space.
function keyedRow(target) {
	if (target === ui.log)
		return state.current;
	if (target && target.classList && target.classList.contains('ln') && target.parentNode === ui.log)
		return target;
	return null;
}

function onKey(e) {
	if (e.ctrlKey || e.altKey || e.metaKey || e.defaultPrevented || inField(e.target))
		return;
	if (e.key === 'Enter' || e.key === ' ') {
		// Space scrolls as ever unless it opened or closed an entry.
		if (toggleLines(keyedRow(e.target)))
			e.preventDefault();
		return;
	}
	if (!Object.prototype.hasOwnProperty.call(KEYS, e.key))
		return;
	e.preventDefault();
	KEYS[e.key]();
}
