// What the controls do, and start-up: the handlers attached, the view read from the address,
// the sources listed, then the first tail.

function runSearch() {
	overtake();
	state.query = ui.q.value.trim();
	state.mode = state.query ? 'search' : 'tail';
	if (state.query)
		search();
	else
		tail();
	schedule();
	writeView();
}

// Escape empties the search box and returns to the tail, as a blank search does; in a box
// already empty with the tail shown it hands the keys back to the log area.
function leaveSearch() {
	if (!ui.q.value && state.mode === 'tail') {
		ui.log.focus();
		return;
	}
	ui.q.value = '';
	runSearch();
}

function toggleFollow() {
	var b = ui.follow;
	state.follow = !state.follow;
	b.classList.toggle('on', state.follow);
	b.textContent = state.follow ? 'Follow' : 'Paused';
	if (state.follow && state.mode === 'search')
		state.mode = 'tail';
	refresh();
}

// The rows already received, under another level; the request they came from stands.
function setLevel(level) {
	state.level = level;
	clearArrivals();
	if (state.shown && !state.shown.failure) {
		var bottom = atBottom();
		showLast();
		if (state.current)
			revealRow(state.current);
		else if (bottom)
			ui.log.scrollTop = ui.log.scrollHeight;
	}
	writeView();
}

function showCopyResult(text) {
	var b = ui.copy;
	b.textContent = text;
	if (state.copyTimer)
		clearTimeout(state.copyTimer);
	state.copyTimer = setTimeout(function () {
		b.textContent = 'Copy';
		state.copyTimer = null;
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

function attachControls() {
	ui.sel.addEventListener('change', function () {
		state.src = ui.sel.value;
		state.mode = 'tail';
		state.query = '';
		ui.q.value = '';
		state.open = new Set();
		refresh();
	});
	ui.segLines.addEventListener('click', function (e) {
		var b = e.target.closest('button');
		if (!b)
			return;
		pressOnly(ui.segLines, b);
		state.lines = parseInt(b.getAttribute('data-n'), 10) || 200;
		refresh();
	});
	ui.segLevel.addEventListener('click', function (e) {
		var b = e.target.closest('button');
		if (!b)
			return;
		pressOnly(ui.segLevel, b);
		setLevel(b.getAttribute('data-level'));
	});
	ui.follow.addEventListener('click', toggleFollow);
	$('btnSearch').addEventListener('click', runSearch);
	ui.q.addEventListener('keydown', function (e) {
		if (e.key === 'Enter')
			runSearch();
		else if (e.key === 'Escape' && !e.ctrlKey && !e.altKey && !e.metaKey)
			leaveSearch();
	});
	ui.newBtn.addEventListener('click', function () {
		ui.log.scrollTop = newestFirst() ? 0 : ui.log.scrollHeight;
		clearArrivals();
		// The button is gone; the keys go on in the log area.
		ui.log.focus({ preventScroll: true });
	});
	// The control of an entry of several lines; its row becomes the current one, so that the
	// keys carry on from there.
	ui.log.addEventListener('click', function (e) {
		var more = e.target.closest('button.more');
		if (!more)
			return;
		var row = more.closest('.ln');
		markCurrent(row);
		toggleLines(row);
	});
	ui.log.addEventListener('scroll', function () {
		if (state.arrived && atArrivalEnd())
			clearArrivals();
	});
	$('btnWrap').addEventListener('click', function () {
		this.classList.toggle('on', ui.log.classList.toggle('wrap'));
	});
	ui.copy.addEventListener('click', copy);
	$('btnReload').addEventListener('click', function () {
		overtake();
		loadSources().then(refresh);
	});
	$('btnTheme').addEventListener('click', function () {
		if (typeof window.wqApplyTheme !== 'function')
			return;
		window.wqApplyTheme(window.wqTheme() === 'dark' ? 'light' : 'dark');
	});
	document.addEventListener('keydown', onKey);
	document.addEventListener('visibilitychange', function () {
		if (document.visibilityState === 'visible')
			refresh();
		else
			schedule();
	});
}

readContext();
attachControls();
readView();
loadSources().then(refresh);
